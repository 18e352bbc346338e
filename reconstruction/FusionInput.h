#pragma once

#include "core/TypedImage.h"
#include "reconstruction/VolumeGeometry.h"

#include <cstdint>

namespace Veltrane {

class ReconstructionParameters;

/// What the fusion back-ends accept from their callers: the checks of `init`
/// and `processFrame` that keep undefined arithmetic and oversized or
/// mismatched buffers out of both back-ends.
namespace FusionInput {

/// Why a back-end cannot be initialised on `params`, or null when it can:
/// names the first value that would make the reconstruction undefined (volume
/// shape, pyramid levels and frame size, iteration counts, camera intrinsics,
/// truncation and ray-cast step factors, tracking thresholds, filter radius).
const char* parameterProblem(const ReconstructionParameters& params);

/// `maxWeight` limited to what a byte weight holds, 1 to 255.
int weightCap(const ReconstructionParameters& params);

/// True when `pose` (16 doubles, column-major) stays finite in single
/// precision and is invertible.
bool isUsablePose(const double* pose);

/// The `processFrame` result for frame arguments that are refused before
/// anything changes, or 0 when they are usable: `WrongFrameSize` for a depth
/// frame or scene image that does not match the `width` x `height` frame,
/// `InvalidPose` for a `poseIn` that is not a usable pose.
int refusedFrame(const TypedImage<unsigned short>* depth, const TypedImage<unsigned char>* sceneImage,
                 const double* poseIn, int width, int height);

/// Bytes of the volumes (with or without colour) plus `framePixelBytes` for
/// every pixel of the `width` x `height` frame and `levelPixelBytes` for every
/// pixel of each of the `levels` pyramid levels; in double, which no size
/// overflows.
double bufferBytes(const VolumeGeometry& volume, bool withColour, int width, int height, int levels,
                   double framePixelBytes, double levelPixelBytes);

/// False, after logging why, when buffers of `bytes` cannot fit in the
/// `available` bytes of the memory named by `memory` (0 available: unknown,
/// every size fits).
bool fitsInMemory(double bytes, std::uint64_t available, const char* memory);

}  // namespace FusionInput
}  // namespace Veltrane
