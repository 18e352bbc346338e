#pragma once

#include "core/TypedImage.h"

#include <Eigen/Core>

namespace Veltrane {

/// The image stages that turn a 16-bit depth frame (mm, 0 = no measurement)
/// into one pyramid level's vertex, tangent and normal maps. Vector maps are
/// three-channel float images in camera coordinates (x right, y down, z
/// forward) with NaN in all three components of an invalid pixel. Every
/// output must already have its input's size (half of it for `downsampleDepth`).
namespace DepthPreprocessing {

/// Edge-preserving 5 x 5 filter (spatial sigma 4.5 px, range sigma 30 mm),
/// clipped at the border; pixels without depth stay 0. Results are rounded
/// to whole mm here and in `downsampleDepth`: truncation would move every
/// measured surface towards the camera, and tracking with it.
void bilateralFilter(const TypedImage<unsigned short>& depth, TypedImage<unsigned short>& filtered);

/// Half-size depth: mean of the 5 x 5 samples around (2x, 2y) within 90 mm of
/// the centre sample.
void downsampleDepth(const TypedImage<unsigned short>& depth, TypedImage<unsigned short>& half);

/// Back-projects each pixel with depth d to inverseIntrinsics * (d u, d v, d).
void computeVertexMap(const TypedImage<unsigned short>& depth,
                      const Eigen::Matrix3f& inverseIntrinsics, TypedImage<float>& vertices);

/// Half central differences of the vertices along x and y; NaN at the border,
/// next to invalid vertices and across depth steps of 30 mm or more.
void computeTangentMaps(const TypedImage<float>& vertices, TypedImage<float>& tangentX,
                        TypedImage<float>& tangentY);

/// Unit normals (pointing towards the camera) from the tangents summed over
/// the 4 x 4 window x-2..x+1, y-2..y+1 of vertices within 90 mm of the centre;
/// NaN with fewer than 4 such vertices, at the border and at invalid vertices.
void computeNormalMap(const TypedImage<float>& vertices, const TypedImage<float>& tangentX,
                      const TypedImage<float>& tangentY, TypedImage<float>& normals);

/// The images of one pyramid level, for `computePyramid`.
struct PyramidLevel {
    TypedImage<unsigned short>* filteredDepth;
    Eigen::Matrix3f inverseIntrinsics;
    TypedImage<float>* vertices;
    TypedImage<float>* tangentX;
    TypedImage<float>* tangentY;
    TypedImage<float>* normals;
};

/// All stages for `count` levels in one go: the filtered depth of level 0,
/// each further level downsampled from the one before, then every level's
/// vertex, tangent and normal maps. The results equal those of the single
/// stages, whatever the number of threads; only the threads are started once
/// for the whole pyramid, and each makes the vertex, tangent and normal maps
/// of its block of rows of every level without waiting for the others.
void computePyramid(const TypedImage<unsigned short>& depth, const PyramidLevel* levels, int count);

/// Camera matrices of the first `levels` pyramid levels and their inverses:
/// level l divides fx, fy, cx and cy of `intrinsics` by 2^l.
void levelIntrinsics(const Eigen::Matrix3d& intrinsics, int levels, Eigen::Matrix3f* matrices,
                     Eigen::Matrix3f* inverses);

}  // namespace DepthPreprocessing
}  // namespace Veltrane
