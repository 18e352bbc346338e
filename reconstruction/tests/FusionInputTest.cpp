#include "core/ClDevice.h"
#include "core/ClImage.h"
#include "platform/PhysicalMemory.h"
#include "reconstruction/ReconstructionParameters.h"
#include "reconstruction/SurfaceReconstructionCPU.h"
#include "reconstruction/SurfaceReconstructionGPU.h"
#include "testsupport/ClTestSupport.h"
#include "testsupport/FusionSetup.h"
#include "testsupport/LogCapture.h"
#include "testsupport/SyntheticCamera.h"
#include "testsupport/Trajectory.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <list>
#include <string>
#include <vector>

namespace Veltrane {
namespace {

using namespace TestSupport;

const PinholeCamera camera = PinholeCamera().scaledDown(2);  // 320 x 240
const std::vector<Eigen::Matrix4d> trajectory = tabletopOrbit(4).poses();
constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double infinity = std::numeric_limits<double>::infinity();

/// Both back-ends, each checked the same way. The GPU back-end is built once
/// for the suite; the parameter sets live as long as it, since it keeps a
/// pointer to the last one.
class FusionInput : public ClSharedObjectTest<FusionInput, SurfaceReconstructionGPU> {
protected:
    struct BackEnd {
        const char* name;
        SurfaceReconstruction* backEnd;
    };

    static void TearDownTestSuite()
    {
        ClSharedObjectTest::TearDownTestSuite();
        delete s_cpu;
        s_cpu = nullptr;
        s_params.clear();
    }
    void TearDown() override
    {
        if (!sharedIsBuilt())
            return;
        for (const BackEnd& b : backEnds())
            b.backEnd->release();
    }

    static std::vector<BackEnd> backEnds() { return {{"CPU", s_cpu}, {"GPU", &shared()}}; }

    /// A new parameter set for the tabletop scene in a `resolution`^3 volume.
    static ReconstructionParameters& newParams(int resolution = 64)
    {
        ReconstructionParameters& params = s_params.emplace_back();
        placeVolumeAroundScene(params, camera, trajectory.front(), resolution);
        params.bilateralFilterRadius = 2;  // the CPU filter's window
        return params;
    }

    /// Distances and weights of the back-end's volumes.
    static std::vector<unsigned char> weights(SurfaceReconstruction* backEnd)
    {
        if (auto* cpu = dynamic_cast<SurfaceReconstructionCPU*>(backEnd)) {
            const TypedImage<unsigned char>& w = *cpu->weightVolume();
            return {w.typedData(), w.typedData() + w.elementCount()};
        }
        ClImage* w = static_cast<SurfaceReconstructionGPU*>(backEnd)->weightVolume();
        std::vector<unsigned char> values(w->elementCount());
        EXPECT_TRUE(w->read(values.data(), values.size()));
        return values;
    }

    static SurfaceReconstructionCPU* s_cpu;
    static std::list<ReconstructionParameters> s_params;
};

SurfaceReconstructionCPU* FusionInput::s_cpu = new SurfaceReconstructionCPU;
std::list<ReconstructionParameters> FusionInput::s_params;

TEST_F(FusionInput, ParametersThatMakeTheMathsUndefinedAreRefusedWithTheReason)
{
    const auto intrinsic = [](int index, double value) {
        return [index, value](ReconstructionParameters& p) {
            std::array<double, 9> k = p.intrinsics();
            k[index] = value;
            p.setIntrinsics(k);
        };
    };
    const struct {
        const char* name;
        std::function<void(ReconstructionParameters&)> spoil;
        const char* reason;
    } cases[] = {
        {"fx = 0", intrinsic(0, 0.0), "the camera intrinsics need finite values, positive focal lengths and the last row 0 0 1"},
        {"negative fy", intrinsic(4, -531.0), "the camera intrinsics need finite values, positive focal lengths and the last row 0 0 1"},
        {"NaN cx", intrinsic(6, nan), "the camera intrinsics need finite values, positive focal lengths and the last row 0 0 1"},
        {"last row 0 0 0", intrinsic(8, 0.0), "the camera intrinsics need finite values, positive focal lengths and the last row 0 0 1"},
        {"step factor 0", [](ReconstructionParameters& p) { p.raycastStepFactor = 0.0; }, "the ray-cast step factor must be finite and positive"},
        {"NaN truncation", [](ReconstructionParameters& p) { p.truncationFactor = nan; }, "the truncation factor must be finite and positive"},
        {"negative truncation", [](ReconstructionParameters& p) { p.truncationFactor = -5.0; }, "the truncation factor must be finite and positive"},
        {"distance threshold 0", [](ReconstructionParameters& p) { p.icpDistanceThreshold = 0.0; }, "the tracking distance and angle thresholds must be finite and positive"},
        {"NaN angle threshold", [](ReconstructionParameters& p) { p.icpAngleThreshold = nan; }, "the tracking distance and angle thresholds must be finite and positive"},
        {"negative convergence", [](ReconstructionParameters& p) { p.icpConvergenceThreshold = -0.1; }, "the tracking convergence threshold must be finite and not negative"},
        {"infinite translation limit", [](ReconstructionParameters& p) { p.maxTranslation = infinity; }, "the largest motion per frame must be finite and positive"},
        {"NaN rotation limit", [](ReconstructionParameters& p) { p.maxRotationDegrees = nan; }, "the largest motion per frame must be finite and positive"},
        {"negative filter radius", [](ReconstructionParameters& p) { p.bilateralFilterRadius = -1; }, "the depth filter radius must not be negative"},
        {"no pyramid level", [](ReconstructionParameters& p) { p.pyramidLevels = 0; }, "the pyramid needs 1 to 3 levels"},
        {"four pyramid levels", [](ReconstructionParameters& p) { p.pyramidLevels = 4; }, "the pyramid needs 1 to 3 levels"},
        {"NaN volume pose", [](ReconstructionParameters& p) { p.setVolumePose({nan, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 1800, 1}); }, "the volume pose must be finite and invertible"},
        {"volume size NaN", [](ReconstructionParameters& p) { p.volumeSize[1] = nan; }, "the volume needs a finite, positive size along each axis"},
    };
    for (const auto& c : cases) {
        for (const BackEnd& b : backEnds()) {
            SCOPED_TRACE(std::string(b.name) + ": " + c.name);
            ReconstructionParameters& params = newParams(32);
            c.spoil(params);
            const LogCapture log;
            EXPECT_FALSE(b.backEnd->init(&params));
            EXPECT_FALSE(params.locked);
            EXPECT_TRUE(log.contains(std::string("ERROR SurfaceReconstruction: unsupported reconstruction parameters: ") +
                                     c.reason))
                << (log.lines().empty() ? "nothing logged" : log.lines().front());
            const RgbdFrame frame = SyntheticCamera(SyntheticScene::tabletop(), camera).render(trajectory.front());
            EXPECT_EQ(b.backEnd->processFrame(frame.depth.get(), frame.colour.get(), nullptr, nullptr, true),
                      SurfaceReconstruction::NotInitialised);
        }
    }
}

TEST_F(FusionInput, VolumesBeyondMemoryAreRefusedBeforeAnythingIsAllocated)
{
    // The smallest cube of colour volumes (9 bytes a voxel) that the memory
    // cannot hold, and sizes whose products wrap around.
    const auto beyond = [](std::uint64_t bytes) {
        return static_cast<int>(std::cbrt(static_cast<double>(bytes) / 9.0)) + 2;
    };
    const int physical = beyond(physicalMemoryBytes());
    const int device = beyond(testEnvironment()->device()->globalMemSize());
    const struct {
        const char* name;
        std::array<int, 3> cpuResolution, gpuResolution;
    } cases[] = {
        {"just beyond the memory", {physical, physical, physical}, {device, device, device}},
        {"voxel count wraps to 0", {4194304, 4194304, 4194304}, {4194304, 4194304, 4194304}},
        {"largest resolution", {std::numeric_limits<int>::max(), std::numeric_limits<int>::max(), 1},
         {std::numeric_limits<int>::max(), std::numeric_limits<int>::max(), 1}},
    };
    for (const auto& c : cases) {
        for (const BackEnd& b : backEnds()) {
            SCOPED_TRACE(std::string(b.name) + ": " + c.name);
            ReconstructionParameters& params = newParams();
            params.setVolumeResolution(b.backEnd == s_cpu ? c.cpuResolution : c.gpuResolution);
            const LogCapture log;
            EXPECT_FALSE(b.backEnd->init(&params));
            EXPECT_FALSE(params.locked);
            EXPECT_EQ(log.countStartingWith("ERROR SurfaceReconstruction: the volume needs "), 1u);
            EXPECT_TRUE(b.backEnd == s_cpu ? s_cpu->tsdfVolume == nullptr : shared().tsdfVolume == nullptr);
        }
    }
}

TEST_F(FusionInput, SceneImagesThatDoNotMatchTheFrameAreRefused)
{
    const RgbdFrame frame = SyntheticCamera(SyntheticScene::tabletop(), camera).render(trajectory.front());
    Eigen::Matrix4d elsewhere = trajectory.front();
    elsewhere(0, 3) += 30.0;
    const struct {
        const char* name;
        int width, height, slices, channels;
    } cases[] = {
        {"half the size", camera.width / 2, camera.height / 2, 1, 3},
        {"one channel", camera.width, camera.height, 1, 1},
        {"two slices", camera.width, camera.height, 2, 3},
        {"one row more", camera.width, camera.height + 1, 1, 3},
    };
    for (const BackEnd& b : backEnds()) {
        ReconstructionParameters& params = newParams(32);
        ASSERT_TRUE(b.backEnd->init(&params));
        const Eigen::Matrix4f pose = b.backEnd->pose();
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(b.name) + ": " + c.name);
            TypedImage<unsigned char> scene(PixelType::UnsignedByte, c.width, c.height, c.slices, c.channels);
            EXPECT_EQ(b.backEnd->processFrame(frame.depth.get(), frame.colour.get(), elsewhere.data(), &scene, true),
                      SurfaceReconstruction::WrongFrameSize);
            EXPECT_EQ(b.backEnd->pose(), pose);
        }
        const std::vector<unsigned char> w = weights(b.backEnd);
        EXPECT_EQ(std::count(w.begin(), w.end(), 0), static_cast<long>(w.size())) << b.name;
        TypedImage<unsigned char> scene(PixelType::UnsignedByte, camera.width, camera.height, 1, 3);
        EXPECT_EQ(b.backEnd->processFrame(frame.depth.get(), frame.colour.get(), nullptr, &scene, true), 0) << b.name;
    }
}

TEST_F(FusionInput, UnusablePosesAreRefusedAndLaterFramesTrack)
{
    const SyntheticCamera sensor(SyntheticScene::tabletop(), camera);
    Eigen::Matrix4d flattened = trajectory.front();
    flattened.col(2).head<3>().setZero();
    const struct {
        const char* name;
        Eigen::Matrix4d pose;
    } cases[] = {
        {"NaN", Eigen::Matrix4d::Constant(nan)},
        {"infinite translation", [] {
             Eigen::Matrix4d m = trajectory.front();
             m(0, 3) = infinity;
             return m;
         }()},
        {"beyond float range", trajectory.front() * 1e39},
        {"all zero", Eigen::Matrix4d::Zero()},
        {"a flattened axis", flattened},
    };
    for (const BackEnd& b : backEnds()) {
        ReconstructionParameters& params = newParams();
        ASSERT_TRUE(b.backEnd->init(&params));
        const RgbdFrame first = sensor.render(trajectory[0], 0);
        ASSERT_EQ(b.backEnd->processFrame(first.depth.get(), first.colour.get(), nullptr, nullptr, true), 0);
        const RgbdFrame second = sensor.render(trajectory[1], 1);
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(b.name) + ": " + c.name);
            const Eigen::Matrix4f before = b.backEnd->pose();
            EXPECT_EQ(b.backEnd->processFrame(second.depth.get(), second.colour.get(), c.pose.data(), nullptr, true),
                      SurfaceReconstruction::InvalidPose);
            EXPECT_EQ(b.backEnd->pose(), before);
        }
        for (std::size_t i = 1; i < trajectory.size(); ++i) {
            const RgbdFrame frame = sensor.render(trajectory[i], static_cast<unsigned>(i));
            EXPECT_EQ(b.backEnd->processFrame(frame.depth.get(), frame.colour.get(), nullptr, nullptr, true), 0)
                << b.name << " frame " << i;
            EXPECT_LT(poseDifference(toMatrix(b.backEnd->pose().data()), trajectory[i]).translation, 5.0)
                << b.name << " frame " << i;
        }
    }
}

TEST_F(FusionInput, WeightCapIsHeldToWhatAByteHolds)
{
    // Three frames fused untracked at the initial pose: the weights count
    // them up to the cap.
    const RgbdFrame frame = SyntheticCamera(SyntheticScene::tabletop(), camera).render(trajectory.front());
    const struct {
        int maxWeight;
        int expected;
    } cases[] = {{0, 1}, {-7, 1}, {2, 2}, {256, 3}, {1000, 3}};
    for (const auto& c : cases) {
        for (const BackEnd& b : backEnds()) {
            SCOPED_TRACE(std::string(b.name) + ": maxWeight " + std::to_string(c.maxWeight));
            ReconstructionParameters& params = newParams(32);
            params.maxWeight = c.maxWeight;
            params.minValidPixels = std::numeric_limits<int>::max();
            ASSERT_TRUE(b.backEnd->init(&params));
            for (int i = 0; i < 3; ++i)
                ASSERT_EQ(b.backEnd->processFrame(frame.depth.get(), frame.colour.get(), nullptr, nullptr, true), 0);
            const std::vector<unsigned char> w = weights(b.backEnd);
            EXPECT_EQ(*std::max_element(w.begin(), w.end()), c.expected);
        }
    }
}

}  // namespace
}  // namespace Veltrane
