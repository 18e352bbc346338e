#include "reconstruction/ReconstructionParameters.h"
#include "reconstruction/SurfaceReconstructionCPU.h"
#include "testsupport/SyntheticCamera.h"
#include "testsupport/Trajectory.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace Veltrane {
namespace {

using namespace TestSupport;

const PinholeCamera camera = PinholeCamera().scaledDown(2);  // 320 x 240

/// Parameters for the tabletop scene in a 128^3 volume of 800 mm, placed so
/// that volume coordinates are scene coordinates, seen first from `start`.
void configure(ReconstructionParameters& params, const Eigen::Matrix4d& start)
{
    params.setVolumeResolution({128, 128, 128});
    params.setVolumeSize({800.0, 800.0, 800.0});
    std::array<double, 16> pose;
    Eigen::Map<Eigen::Matrix4d>(pose.data()) = start;
    params.setVolumePose(pose);
    params.setIntrinsics(camera.matrix());
    params.imageWidth = camera.width;
    params.imageHeight = camera.height;
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

/// Distances to the true surface of every zero crossing of the fused volume
/// between two neighbouring voxels that were both observed several times.
std::vector<double> zeroCrossingErrors(const SurfaceReconstructionCPU& backEnd, const SyntheticScene& scene)
{
    const VolumeGeometry& volume = backEnd.volumeGeometry();
    const float* tsdf = backEnd.tsdfVolume->typedData();
    const unsigned char* weight = backEnd.weightVolume()->typedData();
    const int nx = volume.resolution[0], ny = volume.resolution[1], nz = volume.resolution[2];
    const std::size_t strides[3] = {1, static_cast<std::size_t>(nx), static_cast<std::size_t>(nx) * ny};
    std::vector<double> errors;
    for (int k = 0; k < nz - 1; ++k)
        for (int j = 0; j < ny - 1; ++j)
            for (int i = 0; i < nx - 1; ++i) {
                const std::size_t a = i + strides[1] * j + strides[2] * k;
                for (int axis = 0; axis < 3; ++axis) {
                    const std::size_t b = a + strides[axis];
                    if (weight[a] < 5 || weight[b] < 5 || (tsdf[a] > 0) == (tsdf[b] > 0))
                        continue;
                    Eigen::Vector3f u(static_cast<float>(i), static_cast<float>(j), static_cast<float>(k));
                    u[axis] += tsdf[a] / (tsdf[a] - tsdf[b]);
                    errors.push_back(std::abs(scene.signedDistance(volume.toVolume(u).cast<double>())));
                }
            }
    return errors;
}

TEST(FusionEndToEnd, OrbitIsTrackedAndFusedOntoTheTrueSurface)
{
    const SyntheticCamera sensor(SyntheticScene::tabletop(), camera);
    const std::vector<Eigen::Matrix4d> trajectory = tabletopOrbit(60).poses();
    ReconstructionParameters params;
    configure(params, trajectory.front());
    SurfaceReconstructionCPU backEnd;
    ASSERT_TRUE(backEnd.init(&params));

    for (std::size_t i = 0; i < trajectory.size(); ++i) {
        const RgbdFrame frame = sensor.render(trajectory[i], static_cast<unsigned>(i));
        ASSERT_EQ(backEnd.processFrame(frame.depth.get(), frame.colour.get(), nullptr, nullptr, true), 0)
            << "frame " << i;
        const Eigen::Matrix4f tracked = backEnd.pose();
        const PoseDifference error = poseDifference(toMatrix(tracked.data()), trajectory[i]);
        EXPECT_LT(error.translation, 5.0) << "frame " << i;
        EXPECT_LT(error.rotationDegrees, 1.0) << "frame " << i;
    }

    std::vector<double> errors = zeroCrossingErrors(backEnd, sensor.scene());
    ASSERT_GT(errors.size(), 10000u);
    std::sort(errors.begin(), errors.end());
    const double voxel = backEnd.volumeGeometry().voxelSize.maxCoeff();
    // Faces seen only at grazing angles keep a few crossings up to two voxels off.
    EXPECT_LT(errors[errors.size() / 2], 0.25 * voxel);
    EXPECT_LT(errors[errors.size() * 99 / 100], voxel);
}

TEST(FusionEndToEnd, NoisyFramesWithDropoutsStayTracked)
{
    const SyntheticCamera sensor(SyntheticScene::tabletop(), camera, DepthNoise{1.5, 0.002, 11});
    const std::vector<Eigen::Matrix4d> trajectory = tabletopOrbit(20).poses();
    ReconstructionParameters params;
    configure(params, trajectory.front());
    SurfaceReconstructionCPU backEnd;
    ASSERT_TRUE(backEnd.init(&params));
    for (std::size_t i = 0; i < trajectory.size(); ++i) {
        const RgbdFrame frame = sensor.render(trajectory[i], static_cast<unsigned>(i));
        ASSERT_EQ(backEnd.processFrame(frame.depth.get(), frame.colour.get(), nullptr, nullptr, true), 0)
            << "frame " << i;
        const PoseDifference error = poseDifference(toMatrix(backEnd.pose().data()), trajectory[i]);
        EXPECT_LT(error.translation, 5.0) << "frame " << i;
        EXPECT_LT(error.rotationDegrees, 1.0) << "frame " << i;
    }
}

TEST(FusionEndToEnd, JumpLosesTrackingAndKeepsThePoseUntilTheCameraIsBack)
{
    const SyntheticCamera sensor(SyntheticScene::tabletop(), camera);
    const std::vector<Eigen::Matrix4d> trajectory = tabletopOrbit(8).poses();
    ReconstructionParameters params;
    configure(params, trajectory.front());
    SurfaceReconstructionCPU backEnd;
    ASSERT_TRUE(backEnd.init(&params));
    for (std::size_t i = 0; i + 1 < trajectory.size(); ++i) {
        const RgbdFrame frame = sensor.render(trajectory[i]);
        ASSERT_EQ(backEnd.processFrame(frame.depth.get(), frame.colour.get(), nullptr, nullptr, true), 0);
    }
    const Eigen::Matrix4f before = backEnd.pose();

    Eigen::Matrix4d jumped = trajectory.back();
    jumped(2, 3) += 150.0;  // 150 mm backwards in one frame
    const RgbdFrame far = sensor.render(jumped);
    EXPECT_EQ(backEnd.processFrame(far.depth.get(), far.colour.get(), nullptr, nullptr, true), 1);
    EXPECT_EQ(backEnd.pose(), before);

    const RgbdFrame back = sensor.render(trajectory.back());
    EXPECT_EQ(backEnd.processFrame(back.depth.get(), back.colour.get(), nullptr, nullptr, true), 0);
    EXPECT_LT(poseDifference(toMatrix(backEnd.pose().data()), trajectory.back()).translation, 5.0);
}

TEST(FusionEndToEnd, BadFramesAreRefusedWithTheirCodes)
{
    const SyntheticCamera sensor(SyntheticScene::tabletop(), camera);
    const std::vector<Eigen::Matrix4d> trajectory = tabletopOrbit(1).poses();
    const RgbdFrame frame = sensor.render(trajectory.front());
    const SyntheticCamera smallSensor(SyntheticScene::tabletop(), camera.scaledDown(2));
    const RgbdFrame small = smallSensor.render(trajectory.front());
    ReconstructionParameters params;
    configure(params, trajectory.front());

    SurfaceReconstructionCPU backEnd;
    EXPECT_EQ(backEnd.processFrame(frame.depth.get(), frame.colour.get(), nullptr, nullptr, true), -1);
    ASSERT_TRUE(backEnd.init(&params));
    EXPECT_EQ(backEnd.processFrame(small.depth.get(), small.colour.get(), nullptr, nullptr, true), -2);
    EXPECT_EQ(backEnd.processFrame(nullptr, frame.colour.get(), nullptr, nullptr, true), -2);
    EXPECT_EQ(backEnd.processFrame(frame.depth.get(), nullptr, nullptr, nullptr, true), -3);
    EXPECT_EQ(backEnd.processFrame(frame.depth.get(), small.colour.get(), nullptr, nullptr, true), -3);
    TypedImage<unsigned short> twoSlices(0, camera.width, camera.height, 2, 1);
    EXPECT_EQ(backEnd.processFrame(&twoSlices, frame.colour.get(), nullptr, nullptr, true), -2);
    // None of them touched the volume.
    const unsigned char* weight = backEnd.weightVolume()->typedData();
    EXPECT_EQ(std::count(weight, weight + backEnd.weightVolume()->elementCount(), 0),
              static_cast<long>(backEnd.weightVolume()->elementCount()));
}

}  // namespace
}  // namespace Veltrane
