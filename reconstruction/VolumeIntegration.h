#pragma once

#include "core/TypedImage.h"
#include "reconstruction/BrickMap.h"
#include "reconstruction/VolumeGeometry.h"

#include <Eigen/Core>

#include <cstdint>
#include <vector>

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

/// What the voxel loops read from a frame, one word per pixel and kind:
/// the ray distance (mm, 0 where the pixel may not be fused) and, with
/// colour, the pixel's colour with |normal z|. Kept from frame to frame, so
/// that integrating a frame allocates nothing once the size is known.
class FrameSamples {
public:
    /// The samples of `frame`.
    void sample(const FrameInput& frame);
    /// The samples of a depth frame (and its colour and normals, or null
    /// without colour), computed with its ray distance and discontinuity
    /// mask (stored in `mask`) in one pass over the rows: the same as
    /// `sample` of the images `computeRayDistance` and
    /// `computeDiscontinuityMask` give.
    void sample(const TypedImage<unsigned short>& depth, const Eigen::Matrix3f& intrinsics,
                const TypedImage<unsigned char>* color, const TypedImage<float>* normals,
                TypedImage<unsigned char>& mask);

    int width() const { return m_width; }
    int height() const { return m_height; }
    /// Ray distance per pixel, 0 where the pixel is unreliable or has no depth.
    const float* distance() const { return m_distance.data(); }
    /// Colour sample per pixel, null without colour.
    const std::uint64_t* color() const { return m_hasColor ? m_color.data() : nullptr; }

private:
    /// Sizes the buffers for a `width` x `height` frame.
    void resize(int width, int height, bool withColor);

    int m_width = 0, m_height = 0;
    bool m_hasColor = false;
    std::vector<float> m_distance;
    std::vector<std::uint64_t> m_color;
};

/// Moves every voxel in front of the camera that projects onto a reliable
/// pixel, and lies no more than the truncation distance behind the measured
/// surface, towards the measured signed distance, and blends in the colour
/// weighted by how directly the surface faces the camera. The volumes'
/// colour is updated only when both they and `samples` have colour.
void updateVolume(const VolumeGeometry& volume, const FrameSamples& samples, const Settings& settings,
                  const Volumes& volumes);
/// The same for a single frame, sampled for this call only.
void updateVolume(const VolumeGeometry& volume, const FrameInput& frame, const Settings& settings,
                  const Volumes& volumes);

}  // namespace VolumeIntegration
}  // namespace Veltrane
