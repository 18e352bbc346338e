#include "app/ScanGeometry.h"

#include <Eigen/LU>

#include <algorithm>
#include <cmath>
#include <limits>

namespace Veltrane {

namespace {

/// Half the vertical opening of the mesh view's camera.
const double halfFieldOfView = std::atan(1.0) * 4.0 / 6.0;
constexpr double lateralFactor = 0.4;
constexpr double depthFactor = 0.75;

}  // namespace

std::array<int, 3> isotropicResolution(const std::array<double, 3>& size,
                                       const std::array<int, 3>& resolution)
{
    const double largestSize = *std::max_element(size.begin(), size.end());
    const int largestCount = *std::max_element(resolution.begin(), resolution.end());
    const double voxel = largestSize / largestCount;
    std::array<int, 3> counts{};
    for (int i = 0; i < 3; ++i)
        counts[i] = static_cast<int>(std::floor(size[i] / voxel + 0.5));
    return counts;
}

Eigen::Vector3f volumeExtent(const std::array<double, 3>& size, const std::array<int, 3>& resolution)
{
    Eigen::Vector3f extent;
    for (int i = 0; i < 3; ++i)
        extent[i] = static_cast<float>(size[i] / resolution[i]) * static_cast<float>(resolution[i]);
    return extent;
}

DepthRange volumeDepthRange(const Eigen::Matrix4f& volumeToCamera, const Eigen::Vector3f& extent)
{
    float nearest = std::numeric_limits<float>::infinity();
    float farthest = 0.0f;
    for (int corner = 0; corner < 8; ++corner) {
        const Eigen::Vector4f point(((corner & 1) ? 0.5f : -0.5f) * extent.x(),
                                    ((corner & 2) ? 0.5f : -0.5f) * extent.y(),
                                    ((corner & 4) ? 0.5f : -0.5f) * extent.z(), 1.0f);
        const float z = (volumeToCamera * point).z();
        nearest = std::min(nearest, z);
        farthest = std::max(farthest, z);
    }
    DepthRange range;
    range.nearest = nearest > 0.0f ? nearest : 0.0f;
    range.farthest = farthest > 0.0f ? farthest : 0.0f;
    return range;
}

Eigen::Matrix4f volumePosition(const std::array<double, 16>& pose)
{
    Eigen::Matrix4f placement = Eigen::Matrix4f::Identity();
    for (int i = 0; i < 3; ++i)
        placement(i, 3) = static_cast<float>(pose[12 + i]);
    return placement;
}

Eigen::Matrix3f normalisedInverseIntrinsics(const std::array<double, 9>& intrinsics, int width,
                                            int height)
{
    const Eigen::Matrix3f inverse = Eigen::Map<const Eigen::Matrix3d>(intrinsics.data()).inverse().cast<float>();
    const Eigen::Vector3f scale(static_cast<float>(width), static_cast<float>(height), 1.0f);
    return inverse * scale.asDiagonal();
}

double framingDistance(const Eigen::Vector3d& extent)
{
    return std::max(lateralFactor * extent.x(), lateralFactor * extent.y()) / std::tan(halfFieldOfView)
           + depthFactor * extent.z();
}

}  // namespace Veltrane
