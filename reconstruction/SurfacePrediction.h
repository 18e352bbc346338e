#pragma once

#include "core/TypedImage.h"
#include "reconstruction/BrickMap.h"
#include "reconstruction/VolumeGeometry.h"

#include <Eigen/Core>

namespace Veltrane {

/// Ray casting of the fused distance volume: what the camera should see.
namespace SurfacePrediction {

/// Ray-cast settings of one frame.
struct RaycastSettings {
    Eigen::Matrix4f pose;        ///< volume to camera coordinates
    Eigen::Matrix3f intrinsics;  ///< full-size camera matrix
    float stepFactor = 0.8f;        ///< coarse step in truncation distances
    float truncationFactor = 5.0f;  ///< truncation distance in voxels
    bool showColor = true;          ///< shade with the colour volume when there is one
};

/// Outputs of a ray cast, all of the frame's full size. Vertex and normal maps
/// are in volume coordinates.
struct RaycastOutput {
    TypedImage<float>* vertices;      ///< 3 channels
    TypedImage<float>* normals;       ///< 3 channels
    TypedImage<unsigned char>* scene; ///< 3 channels, shaded picture
    TypedImage<unsigned char>* validMask;  ///< 1 where a ray hit the surface, else 0
};

/// Trilinear distance at the continuous voxel position `u`, corners clamped to
/// the volume; NaN when any of the eight corners is unobserved.
float interpolateTsdf(const float* tsdf, const std::array<int, 3>& resolution, const Eigen::Vector3f& u);

/// Casts one ray per pixel through `tsdf` (and reads `color`, 4 channels, when
/// not null) and writes the first zero crossing from positive to negative, its
/// normal, a shaded picture over a grey gradient and the valid-pixel mask.
/// Each ray is clipped to the volume box and sampled at the nearest voxels of
/// points a coarse step (step factor times truncation factor, in voxels) apart
/// from where it enters; a crossing between two samples is refined by
/// trilinear interpolation. With `bricks`, a map of `tsdf` whose clearance is
/// up to date, rays start at the nearest marked brick their part of the frame
/// may see and pass through unmarked bricks without reading them; the
/// crossings found are the same as without it.
void raycast(const VolumeGeometry& volume, const TypedImage<float>& tsdf,
             const TypedImage<unsigned char>* color, const RaycastSettings& settings,
             const RaycastOutput& output, const BrickMap* bricks = nullptr);

/// Levels 1 .. `count` - 1 of the pyramids of predicted vertex and normal
/// maps, each level half the size of the one before and made from it; the
/// threads are started once for all levels. A vector of a half-size map is
/// the mean of the 3 x 3 vectors around (2x, 2y) of the level before, not
/// re-normalised: a vertex is invalid (NaN) when any of them is, a normal
/// when none of them is valid.
void downsamplePyramid(TypedImage<float>* const* vertices, TypedImage<float>* const* normals, int count);

}  // namespace SurfacePrediction
}  // namespace Veltrane
