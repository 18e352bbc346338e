#include "reconstruction/ReconstructionParameters.h"
#include "reconstruction/SurfaceReconstructionCPU.h"
#include "testsupport/FusionSetup.h"
#include "testsupport/SyntheticCamera.h"
#include "testsupport/Trajectory.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace Veltrane {
namespace {

using namespace TestSupport;

const PinholeCamera camera = PinholeCamera().scaledDown(4);  // 160 x 120
const Eigen::Matrix4d startPose = tabletopOrbit(1).poses().front();

/// A 64^3 volume of 800 mm around the tabletop scene, seen by a 160 x 120
/// camera with the default three pyramid levels.
struct SmallReconstruction : ::testing::Test {
    ReconstructionParameters params;
    SyntheticCamera sensor{SyntheticScene::tabletop(), camera};
    int signals = 0;
    boost::signals2::scoped_connection connection = params.connect([this] { ++signals; });

    SmallReconstruction()
    {
        placeVolumeAroundScene(params, camera, startPose, 64);
        signals = 0;
    }

    static std::size_t observedVoxels(const SurfaceReconstructionCPU& backEnd)
    {
        const TypedImage<unsigned char>& w = *backEnd.weightVolume();
        return w.elementCount() - std::count(w.typedData(), w.typedData() + w.elementCount(), 0);
    }
};

using SurfaceReconstructionCPULifecycle = SmallReconstruction;
using SurfaceReconstructionCPUFrames = SmallReconstruction;

TEST_F(SurfaceReconstructionCPULifecycle, InitLocksAndReleaseUnlocksOnce)
{
    {
        SurfaceReconstructionCPU backEnd;
        EXPECT_EQ(backEnd.pose(), Eigen::Matrix4f::Identity());
        backEnd.release();  // not initialised: nothing
        EXPECT_EQ(signals, 0);

        ASSERT_TRUE(backEnd.init(&params));
        EXPECT_TRUE(params.locked);
        EXPECT_EQ(signals, 1);
        EXPECT_EQ(toMatrix(backEnd.pose().data()), startPose.cast<float>().cast<double>());
        ASSERT_NE(backEnd.tsdfVolume, nullptr);
        ASSERT_NE(backEnd.colorVolume, nullptr);
        EXPECT_EQ(backEnd.tsdfVolume->slices, 64);
        EXPECT_EQ(backEnd.colorVolume->channels, 4);
        EXPECT_DOUBLE_EQ(backEnd.tsdfVolume->spacing[0], 12.5);
        EXPECT_TRUE(std::isnan(backEnd.tsdfVolume->typedData()[0]));

        ASSERT_TRUE(backEnd.init(&params));  // again: rebuilt, still locked, no extra signal
        EXPECT_TRUE(params.locked);
        EXPECT_EQ(signals, 1);

        backEnd.release();
        backEnd.release();
        EXPECT_FALSE(params.locked);
        EXPECT_EQ(signals, 2);
        EXPECT_EQ(backEnd.tsdfVolume, nullptr);

        ASSERT_TRUE(backEnd.init(&params));
    }
    // The destructor frees the buffers but leaves the lock to `release`.
    EXPECT_TRUE(params.locked);
}

TEST_F(SurfaceReconstructionCPULifecycle, FailedReinitLeavesTheParametersUnlocked)
{
    SurfaceReconstructionCPU backEnd;
    ASSERT_TRUE(backEnd.init(&params));
    ASSERT_TRUE(params.locked);

    // Re-initialising for parameters it cannot serve fails after the old
    // buffers are gone: the set must not stay locked.
    params.pyramidLevels = 4;
    EXPECT_FALSE(backEnd.init(&params));
    EXPECT_FALSE(params.locked);
    EXPECT_EQ(backEnd.tsdfVolume, nullptr);
    auto depth = std::make_unique<TypedImage<unsigned short>>(0, camera.width, camera.height, 1, 1);
    EXPECT_EQ(backEnd.processFrame(depth.get(), nullptr, nullptr, nullptr, true), -1);
    EXPECT_FALSE(backEnd.init(nullptr));
}

TEST_F(SurfaceReconstructionCPULifecycle, VolumeTooLargeToAllocateFailsCleanly)
{
    SurfaceReconstructionCPU backEnd;
    ASSERT_TRUE(backEnd.init(&params));
    params.setLocked(false);
    params.setVolumeResolution({1 << 20, 1 << 20, 1 << 12});
    params.setLocked(true);
    EXPECT_FALSE(backEnd.init(&params));
    EXPECT_FALSE(params.locked);
    EXPECT_EQ(backEnd.tsdfVolume, nullptr);
    EXPECT_EQ(backEnd.weightVolume(), nullptr);
}

TEST_F(SurfaceReconstructionCPULifecycle, InitOnAnotherSetUnlocksTheFirst)
{
    ReconstructionParameters other;
    other.setVolumeResolution({16, 16, 16});
    other.imageWidth = camera.width;
    other.imageHeight = camera.height;
    SurfaceReconstructionCPU backEnd;
    ASSERT_TRUE(backEnd.init(&params));
    ASSERT_TRUE(backEnd.init(&other));
    EXPECT_FALSE(params.locked);
    EXPECT_TRUE(other.locked);
    backEnd.release();
    EXPECT_FALSE(other.locked);
}

TEST_F(SurfaceReconstructionCPULifecycle, VolumesTakenOutSurviveRelease)
{
    SurfaceReconstructionCPU backEnd;
    ASSERT_TRUE(backEnd.init(&params));
    const RgbdFrame frame = sensor.render(startPose);
    ASSERT_EQ(backEnd.processFrame(frame.depth.get(), frame.colour.get(), nullptr, nullptr, true), 0);
    std::unique_ptr<TypedImage<float>> tsdf(backEnd.tsdfVolume);
    std::unique_ptr<TypedImage<unsigned char>> color(backEnd.colorVolume);
    backEnd.tsdfVolume = nullptr;
    backEnd.colorVolume = nullptr;
    const std::unique_ptr<MemImage> tsdfCopy(tsdf->clone());
    backEnd.release();
    EXPECT_FALSE(params.locked);
    EXPECT_EQ(std::memcmp(tsdf->data(), tsdfCopy->data(), tsdf->byteSize()), 0);  // NaNs included
    EXPECT_GT(std::count_if(tsdf->typedData(), tsdf->typedData() + tsdf->elementCount(),
                            [](float d) { return !std::isnan(d); }),
              1000);
    EXPECT_EQ(color->channels, 4);
}

TEST_F(SurfaceReconstructionCPUFrames, FirstFramesAreFusedAtTheInitialPoseUntilThePredictionIsLargeEnough)
{
    SurfaceReconstructionCPU backEnd;
    ASSERT_TRUE(backEnd.init(&params));
    const Eigen::Matrix4f initial = backEnd.pose();
    // A pose far from the start: while nothing is tracked it is ignored.
    Eigen::Matrix4d elsewhere = startPose;
    elsewhere(0, 3) += 40.0;
    const RgbdFrame frame = sensor.render(elsewhere);

    // Without integration the volume stays empty, so tracking never starts.
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(backEnd.processFrame(frame.depth.get(), frame.colour.get(), nullptr, nullptr, false), 0);
        EXPECT_EQ(backEnd.pose(), initial);
    }
    EXPECT_EQ(observedVoxels(backEnd), 0u);

    // The first fused frame lands at the initial pose; the next one is
    // tracked and moves the pose to where the frame was taken.
    TypedImage<unsigned char> scene(0, camera.width, camera.height, 1, 3);
    ASSERT_EQ(backEnd.processFrame(frame.depth.get(), frame.colour.get(), nullptr, &scene, true), 0);
    EXPECT_EQ(backEnd.pose(), initial);
    const std::size_t afterFirst = observedVoxels(backEnd);
    EXPECT_GT(afterFirst, 0u);
    EXPECT_EQ(std::memcmp(scene.data(), backEnd.renderedScene()->data(), scene.byteSize()), 0);

    params.minValidPixels = camera.width * camera.height + 1;  // never enough: stays untracked
    ASSERT_EQ(backEnd.processFrame(frame.depth.get(), frame.colour.get(), nullptr, nullptr, true), 0);
    EXPECT_EQ(backEnd.pose(), initial);
    EXPECT_GT(observedVoxels(backEnd), 0u);
}

TEST_F(SurfaceReconstructionCPUFrames, PoseInputReplacesThePoseEvenWhenTheFrameIsRefused)
{
    SurfaceReconstructionCPU backEnd;
    ASSERT_TRUE(backEnd.init(&params));
    const RgbdFrame frame = sensor.render(startPose);
    Eigen::Matrix4d given = startPose;
    given(1, 3) += 25.0;
    EXPECT_EQ(backEnd.processFrame(frame.depth.get(), nullptr, given.data(), nullptr, true), -3);
    EXPECT_EQ(backEnd.pose(), given.cast<float>());

    auto wrongSize = std::make_unique<TypedImage<unsigned short>>(0, camera.width / 2, camera.height / 2, 1, 1);
    EXPECT_EQ(backEnd.processFrame(wrongSize.get(), frame.colour.get(), startPose.data(), nullptr, true), -2);
    EXPECT_EQ(backEnd.pose(), given.cast<float>());  // -2 changes nothing
}

TEST_F(SurfaceReconstructionCPUFrames, ResetStartsOverFromTheInitialPose)
{
    SurfaceReconstructionCPU backEnd;
    backEnd.reset();  // not initialised: nothing happens
    ASSERT_TRUE(backEnd.init(&params));
    const Eigen::Matrix4f initial = backEnd.pose();
    const Orbit orbit = tabletopOrbit(4);
    for (const Eigen::Matrix4d& pose : orbit.poses()) {
        const RgbdFrame frame = sensor.render(pose);
        ASSERT_EQ(backEnd.processFrame(frame.depth.get(), frame.colour.get(), nullptr, nullptr, true), 0);
    }
    EXPECT_NE(backEnd.pose(), initial);

    backEnd.reset();
    EXPECT_EQ(backEnd.pose(), initial);
    EXPECT_EQ(observedVoxels(backEnd), 0u);
    EXPECT_TRUE(std::all_of(backEnd.tsdfVolume->typedData(),
                            backEnd.tsdfVolume->typedData() + backEnd.tsdfVolume->elementCount(),
                            [](float d) { return std::isnan(d); }));
    const RgbdFrame moved = sensor.render(orbit.poses().back());
    ASSERT_EQ(backEnd.processFrame(moved.depth.get(), moved.colour.get(), nullptr, nullptr, true), 0);
    EXPECT_EQ(backEnd.pose(), initial);  // first frame again: fused untracked
}

TEST_F(SurfaceReconstructionCPUFrames, SameViewAgainIsNotFusedUnlessSmallMotionsAreKept)
{
    struct Case {
        bool skipSmallMotion;
        bool fused;
    };
    const RgbdFrame frame = sensor.render(startPose);
    for (const Case c : {Case{true, false}, Case{false, true}}) {
        params.setLocked(false);
        params.skipSmallMotion = c.skipSmallMotion;
        SurfaceReconstructionCPU backEnd;
        ASSERT_TRUE(backEnd.init(&params));
        ASSERT_EQ(backEnd.processFrame(frame.depth.get(), frame.colour.get(), nullptr, nullptr, true), 0);
        std::unique_ptr<MemImage> weights(backEnd.weightVolume()->clone());
        const Eigen::Matrix4f before = backEnd.pose();
        ASSERT_EQ(backEnd.processFrame(frame.depth.get(), frame.colour.get(), nullptr, nullptr, true), 0);
        const bool changed = std::memcmp(weights->data(), backEnd.weightVolume()->data(), weights->byteSize()) != 0;
        EXPECT_EQ(changed, c.fused) << c.skipSmallMotion;
        if (c.fused) {  // moved by less than the small-motion limits
            const PoseDifference moved = poseDifference(toMatrix(backEnd.pose().data()), toMatrix(before.data()));
            EXPECT_LT(moved.translation, 1.0);
            EXPECT_LT(moved.rotationDegrees, 2.0);
        } else {
            EXPECT_EQ(backEnd.pose(), before);
        }
    }
}

TEST_F(SurfaceReconstructionCPUFrames, WithoutColourNoColourIsNeeded)
{
    params.setColorVolume(false);
    params.setShowSceneColor(false);
    SurfaceReconstructionCPU backEnd;
    ASSERT_TRUE(backEnd.init(&params));
    EXPECT_EQ(backEnd.colorVolume, nullptr);
    const RgbdFrame frame = sensor.render(startPose);
    TypedImage<unsigned char> scene(0, camera.width, camera.height, 1, 3);
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(backEnd.processFrame(frame.depth.get(), nullptr, nullptr, &scene, true), 0);
    // The second frame's prediction shows the first one, flat yellow shaded.
    int hits = 0;
    for (std::size_t p = 0; p < scene.elementCount() / 3; ++p) {
        if (!backEnd.validMask()->typedData()[p])
            continue;
        ++hits;
        const unsigned char* rgb = scene.typedData() + 3 * p;
        ASSERT_TRUE(rgb[0] == rgb[1] && rgb[0] > 0 && rgb[2] == 0) << p;
    }
    EXPECT_GT(hits, 1000);
}

}  // namespace
}  // namespace Veltrane
