#pragma once

#include <Eigen/Core>

#include <vector>

namespace Veltrane::TestSupport {

/// The pose (scene to camera coordinates; camera x right, y down, z forward)
/// of a camera at `eye` looking at `target`, with `up` (scene coordinates)
/// appearing upwards in the image.
Eigen::Matrix4d lookAt(const Eigen::Vector3d& eye, const Eigen::Vector3d& target,
                       const Eigen::Vector3d& up);

/// A camera circling `target` at `radius` mm (horizontal distance in the
/// x-z plane) and `height` mm above it (towards -y), always looking at it.
struct Orbit {
    Eigen::Vector3d target = Eigen::Vector3d::Zero();
    double radius = 800.0;
    double height = 400.0;
    double startDegrees = 0.0;    ///< 0 puts the camera on the -z side of the target
    double stepDegrees = 1.0;     ///< turn between consecutive frames
    int frames = 60;

    std::vector<Eigen::Matrix4d> poses() const;
    /// Distance from the camera to the target, mm.
    double distance() const;
    /// The same orbit with target, radius and height multiplied by `factor`.
    Orbit scaled(double factor) const;
};

/// `frames` poses circling SyntheticScene::tabletop() at 1 degree per frame
/// (about 12 mm), 700 mm out and 350 mm above the middle of the table.
Orbit tabletopOrbit(int frames);

/// How far apart two poses are: the distance between their camera centres
/// (mm) and the angle of the relative rotation (degrees).
struct PoseDifference {
    double translation;
    double rotationDegrees;
};
PoseDifference poseDifference(const Eigen::Matrix4d& a, const Eigen::Matrix4d& b);

/// A column-major single-precision 4 x 4 pose as a double matrix.
Eigen::Matrix4d toMatrix(const float* columnMajor);

}  // namespace Veltrane::TestSupport
