#include "testsupport/Trajectory.h"

#include <Eigen/Geometry>

#include <algorithm>
#include <cmath>

namespace Veltrane::TestSupport {

Eigen::Matrix4d lookAt(const Eigen::Vector3d& eye, const Eigen::Vector3d& target,
                       const Eigen::Vector3d& up)
{
    const Eigen::Vector3d z = (target - eye).normalized();
    const Eigen::Vector3d x = z.cross(up).normalized();
    const Eigen::Vector3d y = z.cross(x);  // image y points down, away from `up`
    Eigen::Matrix3d rotation;
    rotation.row(0) = x.transpose();
    rotation.row(1) = y.transpose();
    rotation.row(2) = z.transpose();
    Eigen::Matrix4d pose = Eigen::Matrix4d::Identity();
    pose.topLeftCorner<3, 3>() = rotation;
    pose.topRightCorner<3, 1>() = -rotation * eye;
    return pose;
}

std::vector<Eigen::Matrix4d> Orbit::poses() const
{
    std::vector<Eigen::Matrix4d> result;
    result.reserve(static_cast<std::size_t>(std::max(frames, 0)));
    const Eigen::Vector3d up(0.0, -1.0, 0.0);
    for (int i = 0; i < frames; ++i) {
        const double angle = (startDegrees + i * stepDegrees) * M_PI / 180.0;
        const Eigen::Vector3d eye =
            target + Eigen::Vector3d(radius * std::sin(angle), -height, -radius * std::cos(angle));
        result.push_back(lookAt(eye, target, up));
    }
    return result;
}

double Orbit::distance() const
{
    return std::hypot(radius, height);
}

Orbit Orbit::scaled(double factor) const
{
    Orbit orbit = *this;
    orbit.target *= factor;
    orbit.radius *= factor;
    orbit.height *= factor;
    return orbit;
}

Orbit tabletopOrbit(int frames)
{
    Orbit orbit;
    orbit.target = Eigen::Vector3d(0.0, 50.0, 0.0);
    orbit.radius = 700.0;
    orbit.height = 350.0;
    orbit.stepDegrees = 1.0;
    orbit.frames = frames;
    return orbit;
}

PoseDifference poseDifference(const Eigen::Matrix4d& a, const Eigen::Matrix4d& b)
{
    const Eigen::Matrix3d ra = a.topLeftCorner<3, 3>();
    const Eigen::Matrix3d rb = b.topLeftCorner<3, 3>();
    const Eigen::Vector3d centreA = -ra.transpose() * a.topRightCorner<3, 1>();
    const Eigen::Vector3d centreB = -rb.transpose() * b.topRightCorner<3, 1>();
    const double cosAngle = std::clamp(((ra * rb.transpose()).trace() - 1.0) / 2.0, -1.0, 1.0);
    return {(centreA - centreB).norm(), std::acos(cosAngle) * 180.0 / M_PI};
}

Eigen::Matrix4d toMatrix(const float* columnMajor)
{
    return Eigen::Map<const Eigen::Matrix4f>(columnMajor).cast<double>();
}

}  // namespace Veltrane::TestSupport
