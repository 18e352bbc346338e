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

/// Half-size vertex map: mean of the 3 x 3 samples around (2x, 2y); NaN when
/// any of them is invalid.
void downsampleVertexMap(const TypedImage<float>& vertices, TypedImage<float>& half);

/// Half-size normal map: mean of the valid 3 x 3 samples around (2x, 2y), not
/// re-normalised; NaN when none is valid.
void downsampleNormalMap(const TypedImage<float>& normals, TypedImage<float>& half);

/// Both maps of levels 1 .. `count` - 1 of a pyramid, each level from the one
/// before, as `downsampleVertexMap` and `downsampleNormalMap` make them; the
/// threads are started once for all levels.
void downsamplePyramid(TypedImage<float>* const* vertices, TypedImage<float>* const* normals, int count);

}  // namespace SurfacePrediction
}  // namespace Veltrane
