#pragma once

#include <Eigen/Core>

#include <array>

namespace Veltrane {

/// Shape of the voxel volumes of a reconstruction.
///
/// Voxel (i, j, k) is element i + nx * (j + ny * k) of the distance, weight
/// and colour volumes; its centre in volume coordinates (mm, origin at the
/// centre of the box) is ((i + 0.5 - nx / 2) * sx, ...). A continuous voxel
/// position u relates to volume coordinates p by u = p / s + n / 2 - 0.5.
struct VolumeGeometry {
    std::array<int, 3> resolution{1, 1, 1};
    Eigen::Vector3f voxelSize{1.0f, 1.0f, 1.0f};  ///< voxel edges, mm

    /// Bytes of the distance (float), weight (byte) and, `withColour`, colour
    /// (4 bytes) volumes; in double, so that no resolution can overflow it.
    double volumeBytes(bool withColour) const
    {
        const double voxels = static_cast<double>(resolution[0]) * resolution[1] * resolution[2];
        return voxels * (sizeof(float) + 1 + (withColour ? 4 : 0));
    }
    /// The truncation distance in mm: `factor` times the largest voxel edge.
    float truncationDistance(double factor) const
    {
        return static_cast<float>(factor) * voxelSize.maxCoeff();
    }
    /// Continuous voxel position of a point in volume coordinates.
    Eigen::Vector3f toVoxel(const Eigen::Vector3f& p) const;
    /// Volume coordinates of a continuous voxel position.
    Eigen::Vector3f toVolume(const Eigen::Vector3f& u) const;
};

}  // namespace Veltrane
