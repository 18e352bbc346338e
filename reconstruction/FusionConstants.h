#pragma once

#include <string>

namespace Veltrane {

/// The tuning constants of fusion, defined once for both back-ends: the host
/// stages use them directly and the OpenCL program receives them through
/// `openClDefinitions`, so that the kernels cannot drift from the host.
namespace FusionConstants {

/// Most pyramid levels a back-end supports.
constexpr int maxPyramidLevels = 3;

/// Bilateral depth filter: spatial sigma in pixels and depth (range) sigma in
/// mm. Depth downsampling averages the samples within three depth sigmas.
constexpr float filterSpatialSigma = 4.5f;
constexpr float filterDepthSigma = 30.0f;

/// Central differences spanning this many mm or more cross a depth edge and
/// give no tangent.
constexpr float tangentSpan = 30.0f;
/// Normals average the tangents of vertices closer than this to the centre
/// vertex, in mm.
constexpr float normalNeighbourhood = 90.0f;

/// A depth sample differing from a neighbour of its 5 x 5 window by more than
/// this many mm lies on a discontinuity and is not fused.
constexpr float discontinuityStep = 20.0f;
/// Cap of the colour weight kept in the fourth byte of a colour voxel.
constexpr int maxColorWeight = 32;

/// Smallest distance difference and gradient length the ray cast divides by.
constexpr double numericGuard = 1e-10;

/// A tracked motion below both limits (mm, radians: 2 degrees) counts as
/// small: with `skipSmallMotion` the frame is neither fused nor moves the pose.
constexpr float smallMotionTranslation = 1.0f;
constexpr double smallMotionRotation = 0.03490658503988659;

/// The constants the OpenCL fusion program uses, as "#define" lines to put in
/// front of its source: MAX_COLOR_WEIGHT, DISCONTINUITY_STEP, TANGENT_SPAN,
/// NORMAL_NEIGHBOURHOOD and NUMERIC_GUARD (floats as float literals).
std::string openClDefinitions();

}  // namespace FusionConstants
}  // namespace Veltrane
