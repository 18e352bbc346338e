#pragma once

#include "core/TypedImage.h"
#include "reconstruction/BrickMap.h"
#include "reconstruction/VolumeGeometry.h"

#include <Eigen/Core>

namespace Veltrane {

/// Fusion of one depth frame (and its colour) into the volumes.
///
/// Distances are truncated signed distances in units of the truncation
/// distance, in [-1, 1], positive in front of the surface, NaN where never
/// observed; weights count observations up to a cap; colour voxels hold R, G, B
/// and a colour weight of at most 32 (0 = no colour yet).
namespace VolumeIntegration {

/// The volumes updated by `updateVolume`.
struct Volumes {
    TypedImage<float>* tsdf;
    TypedImage<unsigned char>* weight;
    TypedImage<unsigned char>* color;  ///< 4 channels, or null without colour
    BrickMap* bricks = nullptr;        ///< marked where a distance <= 0 is written, or null
};

/// One frame as integration sees it; every image has the frame's full size.
struct FrameInput {
    const TypedImage<unsigned short>* rayDistance;  ///< mm along each pixel's ray
    const TypedImage<unsigned char>* reliable;      ///< non-zero where depth may be fused
    const TypedImage<unsigned char>* color;         ///< RGB, or null without colour
    const TypedImage<float>* normals;               ///< full-size normal map, camera coordinates
};

struct Settings {
    Eigen::Matrix4f pose;        ///< volume to camera coordinates
    Eigen::Matrix3f intrinsics;  ///< full-size camera matrix
    float truncation;            ///< mm
    int maxWeight;               ///< cap of the distance weight, 1..255
};

/// Depth (mm along the optical axis) converted to the distance along each
/// pixel's ray, rounded to whole mm and clamped to the 16-bit range.
void computeRayDistance(const TypedImage<unsigned short>& depth, const Eigen::Matrix3f& intrinsics,
                        TypedImage<unsigned short>& rayDistance);

/// 255 where the depth is non-zero and no sample of the 5 x 5 window around
/// it (clipped at the border, zero depths included) differs by more than
/// 20 mm; 0 elsewhere.
void computeDiscontinuityMask(const TypedImage<unsigned short>& depth, TypedImage<unsigned char>& mask);

/// Moves every voxel in front of the camera that projects onto a reliable
/// pixel, and lies no more than the truncation distance behind the measured
/// surface, towards the measured signed distance, and blends in the colour
/// weighted by how directly the surface faces the camera.
void updateVolume(const VolumeGeometry& volume, const FrameInput& frame, const Settings& settings,
                  const Volumes& volumes);

}  // namespace VolumeIntegration
}  // namespace Veltrane
