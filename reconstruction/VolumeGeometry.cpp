#include "reconstruction/VolumeGeometry.h"

namespace Veltrane {

Eigen::Vector3f VolumeGeometry::toVoxel(const Eigen::Vector3f& p) const
{
    Eigen::Vector3f u;
    for (int a = 0; a < 3; ++a)
        u[a] = p[a] / voxelSize[a] + resolution[a] / 2.0f - 0.5f;
    return u;
}

Eigen::Vector3f VolumeGeometry::toVolume(const Eigen::Vector3f& u) const
{
    Eigen::Vector3f p;
    for (int a = 0; a < 3; ++a)
        p[a] = (u[a] - resolution[a] / 2.0f + 0.5f) * voxelSize[a];
    return p;
}

}  // namespace Veltrane
