#include "reconstruction/FusionDriver.h"

#include "core/ClCommandQueue.h"
#include "core/ClEnvironment.h"
#include "core/ClImage.h"
#include "core/ClKernel.h"
#include "core/ClProgram.h"
#include "reconstruction/FusionConstants.h"
#include "reconstruction/IcpTracking.h"
#include "reconstruction/KernelLaunch.h"
#include "reconstruction/ReconstructionParameters.h"
#include "testsupport/LogCapture.h"

#include <Eigen/LU>
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace Veltrane {
namespace {

constexpr int frameWidth = 64;
constexpr int frameHeight = 48;

/// A back-end whose stages only record that they ran and answer as scripted;
/// its 6 x 6 systems are made up so that each frame moves the camera by
/// `shift` mm along x (solved in the first iteration of the coarsest level).
class ScriptedDriver : public FusionDriver {
public:
    ~ScriptedDriver() override { releaseBuffers(); }

    int preprocess(const TypedImage<unsigned short>*, const TypedImage<unsigned char>*) override
    {
        return stage("preprocess", preprocessFails);
    }
    int predictSurface() override { return stage("predict", predictFails); }
    int integrate() override { return stage("integrate", integrateFails); }

    bool allocateFails = false;
    bool preprocessFails = false;
    bool predictFails = false;
    bool countFails = false;
    bool systemFails = false;
    bool integrateFails = false;
    long validPixels = 0;
    float shift = 5.0f;
    std::vector<std::string> calls;
    bool sceneCopyPending = false;

private:
    int stage(const char* name, bool fails)
    {
        calls.emplace_back(name);
        return fails ? -1 : 0;
    }

    bool allocateBuffers() override
    {
        m_initialised = !allocateFails;
        return m_initialised;
    }
    void releaseBuffers() override { m_initialised = false; }
    bool clearVolumes() override { return true; }
    bool volumesPresent() const override { return true; }
    void startSceneCopy(TypedImage<unsigned char>&) override { sceneCopyPending = true; }
    void finishSceneCopy() override { sceneCopyPending = false; }
    bool countValidPixels(long& count) override
    {
        calls.emplace_back("count");
        count = validPixels;
        return !countFails;
    }
    bool buildIcpSystem(int, const Eigen::Matrix4f&, float, float, IcpTracking::Matrix6f& normalMatrix,
                        IcpTracking::Vector6f& rightHandSide) override
    {
        calls.emplace_back("system");
        normalMatrix = IcpTracking::Matrix6f::Identity();
        rightHandSide.setZero();
        if (calls.size() < 2 || calls[calls.size() - 2] != "system")
            rightHandSide[3] = shift;  // the first iteration of a frame moves, the next ones converge
        return !systemFails;
    }
};

class FusionDriverTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        params.imageWidth = frameWidth;
        params.imageHeight = frameHeight;
        params.setIntrinsics({50, 0, 0, 0, 50, 0, 32, 24, 1});
        params.minValidPixels = 100;
    }

    int frame(bool integrate = true, TypedImage<unsigned char>* scene = nullptr)
    {
        driver.calls.clear();
        return driver.processFrame(&depth, nullptr, nullptr, scene, integrate);
    }

    ReconstructionParameters params;
    ScriptedDriver driver;
    TypedImage<unsigned short> depth{PixelType::UnsignedShort, frameWidth, frameHeight, 1, 1};
};

using Calls = std::vector<std::string>;

TEST_F(FusionDriverTest, FramesAreFusedUntrackedUntilThePredictionHasEnoughPixelsThenTracked)
{
    ASSERT_TRUE(driver.init(&params));
    EXPECT_TRUE(params.locked);
    const Eigen::Matrix4f start = driver.pose();

    driver.validPixels = 99;
    EXPECT_EQ(frame(), SurfaceReconstruction::Tracked);
    EXPECT_EQ(driver.calls, (Calls{"preprocess", "predict", "count", "integrate"}));
    EXPECT_TRUE(driver.pose().isApprox(start));

    driver.validPixels = 100;
    EXPECT_EQ(frame(), SurfaceReconstruction::Tracked);
    // Level 2 moves and converges, levels 1 and 0 converge at once.
    EXPECT_EQ(driver.calls, (Calls{"preprocess", "predict", "count", "system", "system", "system", "system",
                                   "integrate"}));
    const Eigen::Matrix4f moved = driver.pose();
    EXPECT_NEAR((moved.inverse().topRightCorner<3, 1>() - start.inverse().topRightCorner<3, 1>()).x(), 5.0f, 1e-3f);

    // Tracking has started: no more counting.
    EXPECT_EQ(frame(false), SurfaceReconstruction::Tracked);
    EXPECT_EQ(driver.calls, (Calls{"preprocess", "predict", "system", "system", "system", "system"}));

    // A small motion keeps the pose and fuses nothing.
    driver.shift = 0.5f;
    const Eigen::Matrix4f before = driver.pose();
    EXPECT_EQ(frame(), SurfaceReconstruction::Tracked);
    EXPECT_EQ(driver.calls.back(), "system");
    EXPECT_TRUE(driver.pose().isApprox(before));

    // A jump beyond maxTranslation is a lost frame.
    driver.shift = 150.0f;
    EXPECT_EQ(frame(), SurfaceReconstruction::TrackingLost);
    EXPECT_EQ(driver.calls.back(), "system");
    EXPECT_TRUE(driver.pose().isApprox(before));

    // After reset the first-frame gate counts again.
    driver.reset();
    EXPECT_TRUE(driver.pose().isApprox(start));
    driver.validPixels = 0;
    EXPECT_EQ(frame(), SurfaceReconstruction::Tracked);
    EXPECT_EQ(driver.calls, (Calls{"preprocess", "predict", "count", "integrate"}));
}

TEST_F(FusionDriverTest, EachFailingStageGivesItsCodeAndTheSceneCopyIsAlwaysFinished)
{
    struct Case {
        const char* name;
        bool ScriptedDriver::*failure;
        int expected;
        Calls calls;
    };
    const std::vector<Case> cases = {
        {"preprocessing", &ScriptedDriver::preprocessFails, SurfaceReconstruction::PreprocessingFailed,
         {"preprocess"}},
        {"prediction", &ScriptedDriver::predictFails, SurfaceReconstruction::PredictionFailed,
         {"preprocess", "predict"}},
        {"pixel count", &ScriptedDriver::countFails, SurfaceReconstruction::PredictionFailed,
         {"preprocess", "predict", "count"}},
        {"tracking system", &ScriptedDriver::systemFails, SurfaceReconstruction::TrackingFailed,
         {"preprocess", "predict", "count", "system"}},
        {"integration", &ScriptedDriver::integrateFails, SurfaceReconstruction::IntegrationFailed,
         {"preprocess", "predict", "count", "integrate"}},
    };
    TypedImage<unsigned char> scene(PixelType::UnsignedByte, frameWidth, frameHeight, 1, 3);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedDriver failing;
        failing.validPixels = c.failure == &ScriptedDriver::systemFails ? 1000 : 0;
        failing.*c.failure = true;
        ASSERT_TRUE(failing.init(&params));
        EXPECT_EQ(failing.processFrame(&depth, nullptr, nullptr, &scene, true), c.expected);
        EXPECT_EQ(failing.calls, c.calls);
        EXPECT_FALSE(failing.sceneCopyPending);
        failing.release();
    }
}

TEST_F(FusionDriverTest, RefusedInputChangesNothingAndFailedInitUnlocks)
{
    EXPECT_EQ(frame(), SurfaceReconstruction::NotInitialised);
    driver.allocateFails = true;
    EXPECT_FALSE(driver.init(&params));
    EXPECT_FALSE(params.locked);
    EXPECT_EQ(frame(), SurfaceReconstruction::NotInitialised);

    driver.allocateFails = false;
    ASSERT_TRUE(driver.init(&params));
    const TypedImage<unsigned short> small(PixelType::UnsignedShort, frameWidth / 2, frameHeight / 2, 1, 1);
    TypedImage<unsigned char> tinyScene(PixelType::UnsignedByte, 2, 2, 1, 3);
    driver.calls.clear();
    EXPECT_EQ(driver.processFrame(&small, nullptr, nullptr, nullptr, true), SurfaceReconstruction::WrongFrameSize);
    EXPECT_EQ(driver.processFrame(&depth, nullptr, nullptr, &tinyScene, true), SurfaceReconstruction::WrongFrameSize);
    const double singular[16] = {};
    EXPECT_EQ(driver.processFrame(&depth, nullptr, singular, nullptr, true), SurfaceReconstruction::InvalidPose);
    EXPECT_TRUE(driver.calls.empty());

    driver.release();
    EXPECT_FALSE(params.locked);
}

TEST(IcpTrackingDriver, LevelsRunCoarseToFineAndAFailedSystemEndsTrackingAtOnce)
{
    const IcpTracking::Settings settings{{0, 2, 3}, 100.0, 20.0, 0.1, 100.0, 45.0, true};
    std::vector<int> levels;
    const auto degenerate = [&levels](int level, const Eigen::Matrix4f&, float, float,
                                      IcpTracking::Matrix6f& normalMatrix, IcpTracking::Vector6f& rightHandSide) {
        levels.push_back(level);
        normalMatrix.setZero();
        rightHandSide.setZero();
        return true;
    };
    const IcpTracking::Result lost = IcpTracking::track(3, degenerate, Eigen::Matrix4f::Identity(), settings);
    // A singular system ends its level; level 0 has no iterations.
    EXPECT_EQ(levels, (std::vector<int>{2, 1}));
    EXPECT_FALSE(lost.tracked);
    EXPECT_FALSE(lost.failed);

    levels.clear();
    const auto failing = [&levels](int level, const Eigen::Matrix4f&, float, float, IcpTracking::Matrix6f&,
                                   IcpTracking::Vector6f&) {
        levels.push_back(level);
        return false;
    };
    const IcpTracking::Result failed = IcpTracking::track(3, failing, Eigen::Matrix4f::Identity(), settings);
    EXPECT_EQ(levels, (std::vector<int>{2}));
    EXPECT_TRUE(failed.failed);
    EXPECT_FALSE(failed.tracked);
    EXPECT_FALSE(failed.fuse);
}

TEST(FusionConstants, TheOpenClDefinitionsCarryTheHostValues)
{
    std::map<std::string, std::string> definitions;
    std::istringstream lines(FusionConstants::openClDefinitions());
    std::string directive, name, value;
    while (lines >> directive >> name >> value) {
        EXPECT_EQ(directive, "#define");
        definitions[name] = value;
    }
    EXPECT_EQ(definitions["MAX_COLOR_WEIGHT"], std::to_string(FusionConstants::maxColorWeight));
    const std::map<std::string, float> floats = {
        {"DISCONTINUITY_STEP", FusionConstants::discontinuityStep},
        {"TANGENT_SPAN", FusionConstants::tangentSpan},
        {"NORMAL_NEIGHBOURHOOD", FusionConstants::normalNeighbourhood},
        {"NUMERIC_GUARD", static_cast<float>(FusionConstants::numericGuard)},
    };
    for (const auto& [macro, expected] : floats) {
        SCOPED_TRACE(macro);
        const std::string& literal = definitions[macro];
        // A float literal in OpenCL C: digits with a point or an exponent, then f.
        ASSERT_GE(literal.size(), 2u);
        EXPECT_EQ(literal.back(), 'f');
        EXPECT_NE(literal.find_first_of(".e"), std::string::npos);
        EXPECT_EQ(std::strtof(literal.c_str(), nullptr), expected);
    }
    EXPECT_EQ(definitions.size(), 5u);
}

/// The compactVoxels kernel of the marching-cubes program: three uint
/// buffers and an int count.
class KernelLaunchTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        environment = ClEnvironment::defaultEnvironment();
        program = std::make_unique<ClProgram>("MarchingCubes", "", "", environment);
        kernel = program->createKernel("compactVoxels");
        const std::vector<unsigned> zeros(voxels, 0u);  // no voxel occupied
        for (auto& buffer : buffers)
            buffer = std::make_unique<ClImage>(ClMemoryKind::Buffer, ClMemoryAccess::ReadWrite,
                                               Image(PixelType::UnsignedInt, voxels, 1, 1, 1), zeros.data(), 0, 0,
                                               environment);
    }

    /// The buffers and the kernel must outlive what was enqueued.
    void TearDown() override { clFinish(environment->queue()->id()); }

    KernelLaunch& withBuffers(KernelLaunch& launch)
    {
        return launch.image(buffers[0].get()).image(buffers[1].get()).image(buffers[2].get());
    }

    static constexpr int voxels = 256;
    ClEnvironment* environment = nullptr;
    std::unique_ptr<ClProgram> program;
    std::unique_ptr<ClKernel> kernel;
    std::unique_ptr<ClImage> buffers[3];
};

TEST_F(KernelLaunchTest, ArgumentsAndLaunchAreCheckedAndTheFirstFailureIsReportedWithItsCode)
{
    std::size_t size = voxels;
    ASSERT_TRUE(kernel->setWorkSize(1, &size));
    {
        const LogCapture log;
        KernelLaunch launch(*kernel, "Couldn't execute compact kernel (");
        EXPECT_TRUE(withBuffers(launch).scalar(voxels).run());
        EXPECT_TRUE(log.lines().empty());
    }
    {
        // A byte where the kernel takes an int: refused, and nothing is enqueued.
        const cl_int refused = kernel->setArgByte(3, 1);
        ASSERT_NE(refused, CL_SUCCESS);
        const LogCapture log;
        KernelLaunch launch(*kernel, "Couldn't execute compact kernel (");
        EXPECT_FALSE(withBuffers(launch).byte(1).scalar(7).run());
        EXPECT_EQ(log.lines(), (std::vector<std::string>{"ERROR Couldn't execute compact kernel (" +
                                                         std::to_string(refused) + ")"}));
    }
    {
        // Every argument accepted, the launch refused (no dimensions).
        const LogCapture log;
        KernelLaunch launch(*kernel, "Couldn't start compaction");
        EXPECT_FALSE(withBuffers(launch).scalar(voxels).enqueue(0, &size, nullptr));
        EXPECT_TRUE(log.contains("ERROR Couldn't start compaction"));
    }
}

}  // namespace
}  // namespace Veltrane
