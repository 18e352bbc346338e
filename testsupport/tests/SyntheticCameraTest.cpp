#include "testsupport/SyntheticCamera.h"
#include "testsupport/Trajectory.h"

#include <Eigen/Geometry>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace Veltrane::TestSupport {
namespace {

const PinholeCamera smallCamera = PinholeCamera().scaledDown(4);  // 160 x 120

/// The point that depth pixel (u, v) measures, in scene coordinates.
Eigen::Vector3d backProject(const RgbdFrame& frame, const PinholeCamera& cam, int u, int v)
{
    const double z = frame.depth->typedData()[v * cam.width + u];
    const Eigen::Vector4d p((u - cam.cx) / cam.fx * z, (v - cam.cy) / cam.fy * z, z, 1.0);
    return (frame.pose.inverse() * p).head<3>();
}

TEST(SyntheticCamera, SphereStraightAheadHasItsNearPointAtTheCentrePixel)
{
    SyntheticScene scene;
    scene.add(Sphere{{0.0, 0.0, 1000.0}, 100.0, {10, 20, 30}});
    const SyntheticCamera camera(scene, PinholeCamera());
    const RgbdFrame frame = camera.render(Eigen::Matrix4d::Identity());

    const std::size_t centre = 240 * 640 + 320;
    EXPECT_EQ(frame.depth->typedData()[centre], 900);
    EXPECT_EQ(frame.colour->typedData()[3 * centre], 10);
    EXPECT_EQ(frame.colour->typedData()[3 * centre + 2], 30);
    EXPECT_EQ(frame.depth->typedData()[0], 0);  // corner ray misses
    EXPECT_EQ(frame.colour->typedData()[0], 0);
    EXPECT_EQ(frame.depth->width, 640);
    EXPECT_EQ(frame.colour->channels, 3);
}

TEST(SyntheticCamera, EveryMeasuredPointLiesOnTheSceneSurface)
{
    const SyntheticCamera camera(SyntheticScene::tabletop(), smallCamera);
    Orbit orbit;
    orbit.frames = 4;
    orbit.stepDegrees = 90.0;
    for (const Eigen::Matrix4d& pose : orbit.poses()) {
        const RgbdFrame frame = camera.render(pose);
        int measured = 0;
        for (int v = 0; v < smallCamera.height; ++v)
            for (int u = 0; u < smallCamera.width; ++u) {
                if (frame.depth->typedData()[v * smallCamera.width + u] == 0)
                    continue;
                ++measured;
                // Depth is rounded to whole millimetres.
                EXPECT_LT(std::abs(camera.scene().signedDistance(backProject(frame, smallCamera, u, v))), 1.0);
            }
        EXPECT_GT(measured, smallCamera.width * smallCamera.height / 2);
    }
}

TEST(SyntheticCamera, SceneAndOrbitScaledTogetherGiveScaledDepths)
{
    const double factor = 2.5;
    const Orbit orbit = tabletopOrbit(1);
    const Orbit far = orbit.scaled(factor);
    EXPECT_DOUBLE_EQ(far.distance(), factor * orbit.distance());
    const RgbdFrame near = SyntheticCamera(SyntheticScene::tabletop(), smallCamera).render(orbit.poses().front());
    const RgbdFrame scaled = SyntheticCamera(SyntheticScene::tabletop().scaled(factor), smallCamera, {},
                                             4000.0 * factor)
                                 .render(far.poses().front());
    int compared = 0, sameColour = 0;
    for (std::size_t i = 0; i < near.depth->elementCount(); ++i) {
        const int d = near.depth->typedData()[i];
        ASSERT_EQ(scaled.depth->typedData()[i] == 0, d == 0) << i;
        EXPECT_NEAR(scaled.depth->typedData()[i], factor * d, factor) << i;  // both rounded to whole mm
        compared += d != 0;
        sameColour += std::equal(near.colour->typedData() + 3 * i, near.colour->typedData() + 3 * i + 3,
                                 scaled.colour->typedData() + 3 * i);
    }
    EXPECT_GT(compared, smallCamera.width * smallCamera.height / 2);
    // Rays that meet the floor on a tile edge may land on either side.
    EXPECT_GT(sameColour, 0.99 * near.depth->elementCount());
}

TEST(SyntheticCamera, NoiseIsReproducibleAndGrowsWithDistance)
{
    SyntheticScene scene;
    scene.add(Box{{0.0, 0.0, 3000.0}, {5000.0, 5000.0, 1.0}, {}});  // a wall 3 m ahead
    const DepthNoise noise{2.0, 0.1, 7};
    const SyntheticCamera camera(scene, smallCamera, noise);
    const RgbdFrame a = camera.render(Eigen::Matrix4d::Identity(), 3);
    const RgbdFrame b = camera.render(Eigen::Matrix4d::Identity(), 3);
    const RgbdFrame c = camera.render(Eigen::Matrix4d::Identity(), 4);

    const std::size_t count = a.depth->elementCount();
    int dropped = 0, differentFromC = 0;
    double sumSquares = 0.0;
    for (std::size_t i = 0; i < count; ++i) {
        const unsigned short d = a.depth->typedData()[i];
        ASSERT_EQ(d, b.depth->typedData()[i]);
        differentFromC += d != c.depth->typedData()[i];
        if (d == 0) {
            ++dropped;
            continue;
        }
        sumSquares += (d - 2999.0) * (d - 2999.0);
    }
    EXPECT_GT(differentFromC, 0);
    EXPECT_NEAR(dropped / double(count), 0.1, 0.02);
    const double sigma = std::sqrt(sumSquares / (count - dropped));
    EXPECT_NEAR(sigma, 2.0 * 9.0, 2.0);  // 3 m: nine times the 1 m sigma
}

TEST(Trajectory, LookAtCentresTheTargetWithUpUpwards)
{
    const Eigen::Vector3d target(10.0, 20.0, 30.0);
    const Eigen::Matrix4d pose = lookAt({500.0, -300.0, -700.0}, target, {0.0, -1.0, 0.0});
    const Eigen::Vector3d t = (pose * target.homogeneous()).head<3>();
    EXPECT_NEAR(t.x(), 0.0, 1e-9);
    EXPECT_NEAR(t.y(), 0.0, 1e-9);
    EXPECT_GT(t.z(), 0.0);
    const Eigen::Vector3d aboveTarget = target + Eigen::Vector3d(0.0, -50.0, 0.0);
    const Eigen::Vector3d above = (pose * aboveTarget.homogeneous()).head<3>();
    EXPECT_LT(above.y(), 0.0);  // above the target means up in the image
    const Eigen::Matrix3d rotation = pose.topLeftCorner<3, 3>();
    EXPECT_NEAR(rotation.determinant(), 1.0, 1e-12);
}

TEST(Trajectory, OrbitStepsAndPoseDifference)
{
    Orbit orbit;
    orbit.stepDegrees = 2.0;
    orbit.frames = 3;
    const std::vector<Eigen::Matrix4d> poses = orbit.poses();
    ASSERT_EQ(poses.size(), 3u);
    const PoseDifference step = poseDifference(poses[0], poses[1]);
    EXPECT_NEAR(step.rotationDegrees, 2.0, 1e-6);
    EXPECT_NEAR(step.translation, 2.0 * 800.0 * std::sin(M_PI / 180.0), 1e-6);  // chord
    const PoseDifference same = poseDifference(poses[2], poses[2]);
    EXPECT_EQ(same.translation, 0.0);
    EXPECT_NEAR(same.rotationDegrees, 0.0, 1e-6);
}

}  // namespace
}  // namespace Veltrane::TestSupport
