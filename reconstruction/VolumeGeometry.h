#pragma once

#include <Eigen/Core>

#include <algorithm>
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

/// The voxel nearest to the continuous position `u`, wherever it lies,
/// clamped to a volume of `resolution` voxels.
inline std::array<int, 3> clampedNearestVoxel(const std::array<int, 3>& resolution, const Eigen::Vector3f& u)
{
    // Clamped before the conversion, which then is a floor and always fits.
    std::array<int, 3> voxel;
    for (int a = 0; a < 3; ++a)
        voxel[a] = static_cast<int>(std::clamp(u[a] + 0.5f, 0.0f, static_cast<float>(resolution[a] - 1)));
    return voxel;
}

}  // namespace Veltrane
