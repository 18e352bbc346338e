#include "app/DepthCutoff.h"
#include "app/FrameRateMeter.h"
#include "app/ScanGeometry.h"

#include <gtest/gtest.h>

#include <QThread>

#include <cmath>
#include <vector>

namespace Veltrane {
namespace {

Eigen::Matrix4f placedAt(float x, float y, float z)
{
    Eigen::Matrix4f placement = Eigen::Matrix4f::Identity();
    placement.col(3).head<3>() << x, y, z;
    return placement;
}

TEST(ScanGeometry, IsotropicResolutionKeepsTheVoxelsCubic)
{
    struct Case {
        std::array<double, 3> size;
        std::array<int, 3> resolution;
        std::array<int, 3> expected;
    };
    const Case cases[] = {
        {{700, 2000, 700}, {256, 256, 256}, {90, 256, 90}},
        {{1500, 2000, 2000}, {256, 256, 256}, {192, 256, 256}},
        {{1000, 1000, 1000}, {512, 512, 512}, {512, 512, 512}},
        {{1000, 1000, 1000}, {90, 256, 90}, {256, 256, 256}},
        // 0.5 voxels round up.
        {{100, 50, 1}, {2, 2, 2}, {2, 1, 0}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(isotropicResolution(c.size, c.resolution), c.expected)
            << c.size[0] << " x " << c.size[1] << " x " << c.size[2];
}

TEST(ScanGeometry, ExtentIsTheSinglePrecisionVoxelEdgeTimesTheCount)
{
    const Eigen::Vector3f extent = volumeExtent({700, 2000, 700}, {90, 256, 90});
    EXPECT_EQ(extent.x(), float(700.0 / 90) * 90.0f);
    EXPECT_EQ(extent.y(), 2000.0f);
    EXPECT_NEAR(extent.z(), 700.0f, 1e-3f);
}

TEST(ScanGeometry, DepthRangeOfTheVolumeCorners)
{
    struct Case {
        const char* name;
        Eigen::Matrix4f placement;
        Eigen::Vector3f extent;
        float nearest, farthest;
    };
    const Eigen::Vector3f cube(400, 400, 400);
    Eigen::Matrix4f turned = placedAt(0, 0, 1000);
    // A quarter turn about y puts the box's 600 mm along x into the view.
    turned.topLeftCorner<3, 3>() << 0, 0, 1, 0, 1, 0, -1, 0, 0;
    const Case cases[] = {
        {"straight ahead", placedAt(0, 0, 1000), cube, 800, 1200},
        {"off to the side", placedAt(700, -300, 1000), cube, 800, 1200},
        {"around the camera", placedAt(0, 0, 100), cube, 0, 300},
        {"behind the camera", placedAt(0, 0, -1000), cube, 0, 0},
        {"turned", turned, {600, 400, 400}, 700, 1300},
    };
    for (const Case& c : cases) {
        const DepthRange range = volumeDepthRange(c.placement, c.extent);
        EXPECT_FLOAT_EQ(range.nearest, c.nearest) << c.name;
        EXPECT_FLOAT_EQ(range.farthest, c.farthest) << c.name;
    }
}

TEST(ScanGeometry, PositionBeforeAScanLeavesTheRotationOut)
{
    std::array<double, 16> pose{0, 1, 0, 0, -1, 0, 0, 0, 0, 0, 1, 0, -5, 4, 1004, 1};
    EXPECT_TRUE(volumePosition(pose).isApprox(placedAt(-5, 4, 1004)));
}

TEST(ScanGeometry, NormalisedInverseIntrinsicsGiveTheRayThroughAPixel)
{
    const Eigen::Matrix3f invK =
        normalisedInverseIntrinsics({531, 0, 0, 0, 531, 0, 320, 240, 1}, 640, 480);
    // The frame's centre looks straight ahead, its corner along (-320, -240, 531).
    EXPECT_TRUE((invK * Eigen::Vector3f(0.5f, 0.5f, 1.0f)).isApprox(Eigen::Vector3f(0, 0, 1)));
    EXPECT_TRUE((invK * Eigen::Vector3f(0, 0, 1)).isApprox(Eigen::Vector3f(-320, -240, 531) / 531));
}

TEST(ScanGeometry, FramingDistance)
{
    EXPECT_NEAR(framingDistance({400, 300, 200}), 160 / std::tan(M_PI / 6) + 150, 1e-9);
    EXPECT_NEAR(framingDistance({400, 300, 200}), 427.1, 0.05);
    EXPECT_NEAR(framingDistance({300, 500, 0}), 200 / std::tan(M_PI / 6), 1e-9) << "taller than wide";
}

TEST(DepthCutoff, KeepsTheCutOffDepthAndClearsWhatLiesBeyond)
{
    TypedImage<unsigned short> depth(PixelType::UnsignedShort, 3, 2, 1, 1);
    const std::vector<unsigned short> before{0, 3199, 3200, 3201, 65535, 1000};
    std::copy(before.begin(), before.end(), depth.typedData());
    cutOffDepth(depth, 3200);
    EXPECT_EQ(std::vector<unsigned short>(depth.typedData(), depth.typedData() + 6),
              (std::vector<unsigned short>{0, 3199, 3200, 0, 0, 1000}));
}

TEST(FrameRateMeter, FirstRateIsRawAndARestartStartsOver)
{
    FrameRateMeter meter(50.0);
    EXPECT_LT(meter.rate(), 0.0);
    int computed = 0;
    for (int i = 0; i < 40 && computed < 2; ++i) {
        QThread::msleep(10);
        computed += meter.countFrame() ? 1 : 0;
    }
    ASSERT_EQ(computed, 2);
    // Frames at least 10 ms apart: about 100 per second (the first frame of
    // a measurement counts without a time of its own), or fewer on a busy
    // machine.
    EXPECT_GT(meter.rate(), 20.0);
    EXPECT_LT(meter.rate(), 150.0);

    meter.restart();
    EXPECT_GT(meter.rate(), 0.0) << "the restart waits for the next frame";
    EXPECT_FALSE(meter.countFrame());
    EXPECT_LT(meter.rate(), 0.0);
}

}  // namespace
}  // namespace Veltrane
