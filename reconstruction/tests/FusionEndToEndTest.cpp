#include "reconstruction/ReconstructionParameters.h"
#include "reconstruction/SurfaceReconstructionCPU.h"
#include "testsupport/FusionSetup.h"
#include "testsupport/SyntheticCamera.h"
#include "testsupport/Trajectory.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace Veltrane {
namespace {

using namespace TestSupport;

const PinholeCamera camera = PinholeCamera().scaledDown(2);  // 320 x 240

/// A back-end initialised for the tabletop scene in a 128^3 volume, the
/// frames of a tabletop orbit and the sensor that renders them.
struct TabletopScan {
    SyntheticCamera sensor;
    std::vector<Eigen::Matrix4d> trajectory;
    ReconstructionParameters params;
    SurfaceReconstructionCPU backEnd;

    explicit TabletopScan(int frames, DepthNoise noise = {})
        : sensor(SyntheticScene::tabletop(), camera, noise), trajectory(tabletopOrbit(frames).poses())
    {
        placeVolumeAroundScene(params, camera, trajectory.front(), 128);
    }
};

TEST(FusionEndToEnd, OrbitIsTrackedAndFusedOntoTheTrueSurface)
{
    TabletopScan scan(60);
    ASSERT_TRUE(scan.backEnd.init(&scan.params));
    expectTrackedAlong(scan.backEnd, scan.sensor, scan.trajectory);
    if (HasFatalFailure())
        return;

    std::vector<double> errors = surfaceErrors(scan.backEnd.volumeGeometry(), scan.backEnd.tsdfVolume->typedData(),
                                               scan.backEnd.weightVolume()->typedData(), scan.sensor.scene());
    ASSERT_GT(errors.size(), 10000u);
    // Without bias the surface is as often in front of the truth as behind it.
    EXPECT_LT(std::abs(median(errors)), 0.1);  // mm
    for (double& e : errors)
        e = std::abs(e);
    std::sort(errors.begin(), errors.end());
    const double voxel = scan.backEnd.volumeGeometry().voxelSize.maxCoeff();
    // Faces seen only at grazing angles keep a few crossings up to two voxels off.
    EXPECT_LT(errors[errors.size() / 2], 0.25 * voxel);
    EXPECT_LT(errors[errors.size() * 99 / 100], voxel);
}

TEST(FusionEndToEnd, NoisyFramesWithDropoutsStayTracked)
{
    TabletopScan scan(20, DepthNoise{1.5, 0.002, 11});
    ASSERT_TRUE(scan.backEnd.init(&scan.params));
    expectTrackedAlong(scan.backEnd, scan.sensor, scan.trajectory);
}

TEST(FusionEndToEnd, JumpLosesTrackingAndKeepsThePoseUntilTheCameraIsBack)
{
    TabletopScan scan(8);
    const SyntheticCamera& sensor = scan.sensor;
    const std::vector<Eigen::Matrix4d>& trajectory = scan.trajectory;
    SurfaceReconstructionCPU& backEnd = scan.backEnd;
    ASSERT_TRUE(backEnd.init(&scan.params));
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
    TabletopScan scan(1);
    const RgbdFrame frame = scan.sensor.render(scan.trajectory.front());
    const SyntheticCamera smallSensor(SyntheticScene::tabletop(), camera.scaledDown(2));
    const RgbdFrame small = smallSensor.render(scan.trajectory.front());

    SurfaceReconstructionCPU& backEnd = scan.backEnd;
    EXPECT_EQ(backEnd.processFrame(frame.depth.get(), frame.colour.get(), nullptr, nullptr, true), -1);
    ASSERT_TRUE(backEnd.init(&scan.params));
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
