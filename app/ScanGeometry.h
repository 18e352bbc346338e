#pragma once

#include <Eigen/Core>

#include <array>

namespace Veltrane {

/// Figures of the reconstruction volume and of the camera that the main
/// window shows and draws with. Lengths are millimetres; matrices are
/// column-major.

/// Voxel counts that keep the voxels cubic for a volume of `size`: the
/// voxel edge is the largest size over the largest count of `resolution`,
/// and each axis gets as many such voxels as fit, rounded to the nearest.
/// A 700 x 2000 x 700 volume at 256 gives 90 x 256 x 90.
std::array<int, 3> isotropicResolution(const std::array<double, 3>& size,
                                       const std::array<int, 3>& resolution);

/// The volume's edge lengths as the back-ends lay their voxels out: per
/// axis the voxel edge (size / count, in single precision) times the count.
Eigen::Vector3f volumeExtent(const std::array<double, 3>& size, const std::array<int, 3>& resolution);

/// The range of camera depths a volume covers.
struct DepthRange {
    float nearest = 0.0f;
    float farthest = 0.0f;
};

/// The smallest and the largest camera z of the corners of a volume of
/// `extent`, centred at its origin and placed by `volumeToCamera`; a value
/// that is not in front of the camera (z <= 0) becomes 0, so a volume behind
/// the camera spans 0 ... 0.
DepthRange volumeDepthRange(const Eigen::Matrix4f& volumeToCamera, const Eigen::Vector3f& extent);

/// The placement of the volume before a scan: its position from `pose`
/// without the rotation.
Eigen::Matrix4f volumePosition(const std::array<double, 16>& pose);

/// Takes an image position given as fractions of the frame (u, v in 0 ... 1,
/// third coordinate 1) to the camera ray through that pixel: the inverse of
/// `intrinsics` times diag(width, height, 1), in single precision.
Eigen::Matrix3f normalisedInverseIntrinsics(const std::array<double, 9>& intrinsics, int width,
                                            int height);

/// How far in front of a mesh whose bounding box has `extent` the camera
/// stands so that the whole mesh is in view: 0.4 of the larger of width and
/// height over tan(30 degrees), plus 0.75 of the depth. A 400 x 300 x 200
/// box is framed from about 427.1 mm.
double framingDistance(const Eigen::Vector3d& extent);

}  // namespace Veltrane
