#include "reconstruction/ReconstructionParameters.h"

#include <gtest/gtest.h>

#include <limits>

namespace Veltrane {
namespace {

/// Counts the change signals of a parameter set.
struct SignalCounter {
    explicit SignalCounter(ReconstructionParameters& params)
        : connection(params.connect([this] { ++count; }))
    {
    }
    int count = 0;
    boost::signals2::scoped_connection connection;
};

TEST(ReconstructionParameters, DefaultsDescribeA640x480KinectAndAMetreCube)
{
    const ReconstructionParameters p;
    EXPECT_EQ(p.volumeResolution, (std::array<int, 3>{256, 256, 256}));
    EXPECT_EQ(p.volumeSize, (std::array<double, 3>{1000.0, 1000.0, 1000.0}));
    EXPECT_EQ(p.volumePose(), (std::array<double, 16>{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 1800, 1}));
    EXPECT_EQ(p.intrinsics(), (std::array<double, 9>{531, 0, 0, 0, 531, 0, 320, 240, 1}));
    EXPECT_EQ(p.icpIterations(), (std::vector<int>{8, 4, 3}));
    EXPECT_TRUE(p.colorVolume);
    EXPECT_EQ(p.bilateralFilterRadius, 3);
    EXPECT_EQ(p.pyramidLevels, 3);
    EXPECT_EQ(p.minValidPixels, 200);
    EXPECT_EQ(p.icpDistanceThreshold, 100.0);
    EXPECT_EQ(p.icpAngleThreshold, 20.0);
    EXPECT_EQ(p.icpConvergenceThreshold, 0.1);
    EXPECT_FALSE(p.useCurvatureSelection);
    EXPECT_EQ(p.curvatureThreshold, 0.001);
    EXPECT_EQ(p.curvatureQuantile, 0.8);
    EXPECT_EQ(p.maxRotationDegrees, 45.0);
    EXPECT_EQ(p.maxTranslation, 100.0);
    EXPECT_EQ(p.maxWeight, 128);
    EXPECT_EQ(p.truncationFactor, 5.0);
    EXPECT_TRUE(p.skipSmallMotion);
    EXPECT_EQ(p.raycastStepFactor, 0.8);
    EXPECT_EQ(p.imageWidth, 640);
    EXPECT_EQ(p.imageHeight, 480);
    EXPECT_TRUE(p.showSceneColor);
    EXPECT_FALSE(p.locked);
}

struct SetterCase {
    const char* name;
    void (*call)(ReconstructionParameters&);
    bool emits;
    /// True when the call took effect; null when nothing may change.
    bool (*changed)(const ReconstructionParameters&);
};

ReconstructionParameters defaults;

bool resolutionChanged(const ReconstructionParameters& p) { return p.volumeResolution != defaults.volumeResolution; }
bool sizeChanged(const ReconstructionParameters& p) { return p.volumeSize != defaults.volumeSize; }
bool poseChanged(const ReconstructionParameters& p) { return p.volumePose() != defaults.volumePose(); }
bool colorChanged(const ReconstructionParameters& p) { return p.colorVolume != defaults.colorVolume; }
constexpr bool (*unchanged)(const ReconstructionParameters&) = nullptr;

std::array<double, 16> shiftedPose()
{
    std::array<double, 16> pose = defaults.volumePose();
    pose[14] = 1500.0;
    return pose;
}

TEST(ReconstructionParameters, SettersStoreAndEmitOnlyEffectiveChanges)
{
    const SetterCase cases[] = {
        {"new resolution", [](ReconstructionParameters& p) { p.setVolumeResolution({128, 64, 32}); }, true, resolutionChanged},
        {"same resolution", [](ReconstructionParameters& p) { p.setVolumeResolution({256, 256, 256}); }, false, unchanged},
        {"zero resolution", [](ReconstructionParameters& p) { p.setVolumeResolution({256, 0, 256}); }, false, unchanged},
        {"negative resolution", [](ReconstructionParameters& p) { p.setVolumeResolution({-1, 256, 256}); }, false, unchanged},
        {"new size", [](ReconstructionParameters& p) { p.setVolumeSize({500.0, 600.0, 700.0}); }, true, sizeChanged},
        {"same size", [](ReconstructionParameters& p) { p.setVolumeSize({1000.0, 1000.0, 1000.0}); }, false, unchanged},
        {"zero size", [](ReconstructionParameters& p) { p.setVolumeSize({500.0, 0.0, 500.0}); }, false, unchanged},
        {"negative size", [](ReconstructionParameters& p) { p.setVolumeSize({500.0, 500.0, -1.0}); }, false, unchanged},
        {"NaN size", [](ReconstructionParameters& p) { p.setVolumeSize({500.0, std::numeric_limits<double>::quiet_NaN(), 500.0}); }, false, unchanged},
        {"new pose", [](ReconstructionParameters& p) { p.setVolumePose(shiftedPose()); }, true, poseChanged},
        {"same pose", [](ReconstructionParameters& p) { p.setVolumePose(defaults.volumePose()); }, false, unchanged},
        {"colour off", [](ReconstructionParameters& p) { p.setColorVolume(false); }, true, colorChanged},
        {"colour on again", [](ReconstructionParameters& p) { p.setColorVolume(true); }, false, unchanged},
        {"scene colour off", [](ReconstructionParameters& p) { p.setShowSceneColor(false); }, true,
         [](const ReconstructionParameters& p) { return !p.showSceneColor; }},
        {"scene colour on again", [](ReconstructionParameters& p) { p.setShowSceneColor(true); }, false, unchanged},
        {"same intrinsics", [](ReconstructionParameters& p) { p.setIntrinsics(defaults.intrinsics()); }, true, unchanged},
        {"lock", [](ReconstructionParameters& p) { p.setLocked(true); }, true, [](const ReconstructionParameters& p) { return bool(p.locked); }},
        {"unlock when unlocked", [](ReconstructionParameters& p) { p.setLocked(false); }, false, unchanged},
    };
    for (const SetterCase& c : cases) {
        ReconstructionParameters params;
        SignalCounter signals(params);
        c.call(params);
        EXPECT_EQ(signals.count, c.emits ? 1 : 0) << c.name;
        if (c.changed) {
            EXPECT_TRUE(c.changed(params)) << c.name;
        } else {
            EXPECT_EQ(params.volumeResolution, defaults.volumeResolution) << c.name;
            EXPECT_EQ(params.volumeSize, defaults.volumeSize) << c.name;
            EXPECT_EQ(params.volumePose(), defaults.volumePose()) << c.name;
            EXPECT_EQ(params.colorVolume, defaults.colorVolume) << c.name;
        }
    }
}

TEST(ReconstructionParameters, LockFreezesTheVolumeButNotTheView)
{
    ReconstructionParameters params;
    params.setLocked(true);
    SignalCounter signals(params);

    params.setVolumeResolution({64, 64, 64});
    params.setVolumeSize({300.0, 300.0, 300.0});
    params.setVolumePose(shiftedPose());
    params.setColorVolume(false);
    EXPECT_EQ(signals.count, 0);
    EXPECT_EQ(params.volumeResolution, defaults.volumeResolution);
    EXPECT_EQ(params.volumeSize, defaults.volumeSize);
    EXPECT_EQ(params.volumePose(), defaults.volumePose());
    EXPECT_TRUE(params.colorVolume);

    params.setShowSceneColor(false);
    params.setIntrinsics({500, 0, 0, 0, 500, 0, 300, 200, 1});
    params.setLocked(true);  // already locked: no signal
    EXPECT_EQ(signals.count, 2);
    EXPECT_FALSE(params.showSceneColor);
    EXPECT_EQ(params.intrinsics()[0], 500.0);

    params.setLocked(false);
    params.setVolumeResolution({64, 64, 64});
    EXPECT_EQ(signals.count, 4);
    EXPECT_EQ(params.volumeResolution, (std::array<int, 3>{64, 64, 64}));
}

}  // namespace
}  // namespace Veltrane
