#include "core/ClCommandQueue.h"
#include "core/ClContext.h"
#include "core/ClDevice.h"
#include "core/ClEnvironment.h"
#include "core/ClPlatform.h"
#include "testsupport/ClTestSupport.h"
#include "testsupport/LogCapture.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <iostream>
#include <stdexcept>

#include <QTemporaryDir>

namespace Veltrane {
namespace {

class ClEnvironmentTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_platforms = ClPlatform::platforms();
        ASSERT_FALSE(m_platforms.empty());
        m_devices = platform()->devices(CL_DEVICE_TYPE_ALL);
        ASSERT_FALSE(m_devices.empty());
    }

    ClPlatform* platform() const { return m_platforms.front().get(); }
    ClDevice* device() const { return m_devices.front().get(); }

private:
    std::vector<std::unique_ptr<ClPlatform>> m_platforms;
    std::vector<std::unique_ptr<ClDevice>> m_devices;
};

TEST_F(ClEnvironmentTest, DeviceQueriesReportTheDevicesFacts)
{
    const ClDevice& d = *device();
    char rawName[1024] = {};
    clGetDeviceInfo(d.id(), CL_DEVICE_NAME, sizeof rawName - 1, rawName, nullptr);
    EXPECT_EQ(d.name(), std::string(rawName));
    EXPECT_EQ(d.name().size(), std::strlen(rawName));  // no trailing NUL
    EXPECT_FALSE(d.vendor().empty());
    EXPECT_EQ(d.vendor().find('\0'), std::string::npos);
    EXPECT_GT(d.maxComputeUnits(), 0u);
    EXPECT_GT(d.maxWorkGroupSize(), 0u);
    EXPECT_GT(d.globalMemSize(), 0u);
    EXPECT_GT(d.localMemSize(), 0u);
    EXPECT_GT(d.maxConstantBufferSize(), 0u);
    EXPECT_GT(d.maxConstantArgs(), 0u);
    EXPECT_TRUE(d.imageSupport());

    cl_uint dimensions = 0;
    clGetDeviceInfo(d.id(), CL_DEVICE_MAX_WORK_ITEM_DIMENSIONS, sizeof dimensions, &dimensions,
                    nullptr);
    const std::vector<std::size_t> itemSizes = d.maxWorkItemSizes();
    ASSERT_EQ(itemSizes.size(), dimensions);
    EXPECT_GE(itemSizes[0], 1u);
}

TEST_F(ClEnvironmentTest, RefusedQueriesGiveEmptyValuesAndTheirCode)
{
    int error = 0;
    EXPECT_TRUE(device()->infoBytes(0x7fff, &error).empty());
    EXPECT_EQ(error, CL_INVALID_VALUE);
    EXPECT_TRUE(device()->infoSizes(0x7fff).empty());

    // A handle that is no device: every query fails quietly.
    const ClDevice none(nullptr);
    LogCapture log;
    EXPECT_EQ(none.name(), "");
    EXPECT_EQ(none.maxWorkGroupSize(), 0u);
    EXPECT_FALSE(none.imageSupport());
    EXPECT_TRUE(none.maxWorkItemSizes().empty());
    EXPECT_TRUE(log.lines().empty());
}

TEST_F(ClEnvironmentTest, PlatformWithoutDevicesOfTheTypeLogsAndListsNone)
{
    LogCapture log;
    // The CPU runtime here offers no accelerator.
    const auto accelerators = platform()->devices(CL_DEVICE_TYPE_ACCELERATOR);
    EXPECT_TRUE(accelerators.empty());
    EXPECT_EQ(log.countStartingWith("ERROR clGetDeviceIDs failed ("), 1u);
}

TEST_F(ClEnvironmentTest, EnvironmentOwnsItsOwnWrapperOfTheChosenDevice)
{
    ClEnvironment environment(platform(), device());
    ASSERT_NE(environment.context(), nullptr);
    EXPECT_TRUE(environment.context()->isValid());
    EXPECT_TRUE(environment.queue()->isValid());
    EXPECT_NE(environment.device(), device());
    EXPECT_EQ(environment.device()->id(), device()->id());

    const auto contextDevices = environment.context()->devices();
    ASSERT_EQ(contextDevices.size(), 1u);
    EXPECT_EQ(contextDevices.front()->id(), device()->id());
}

TEST_F(ClEnvironmentTest, WithoutPlatformAndDeviceTheFirstUsablePlatformIsTaken)
{
    ClEnvironment environment(nullptr, nullptr);
    EXPECT_TRUE(environment.queue()->isValid());
    EXPECT_FALSE(environment.device()->name().empty());
}

TEST_F(ClEnvironmentTest, ValidExistingContextIsAdoptedAndReleasedWithTheEnvironment)
{
    auto* context = new ClContext(platform(), {device()}, false);
    ASSERT_TRUE(context->isValid());
    const cl_context handle = context->id();
    clRetainContext(handle);  // keep the handle alive to watch its count
    const cl_uint before = contextReferences(handle);
    {
        ClEnvironment environment(nullptr, nullptr, false, false, context);
        EXPECT_EQ(environment.context(), context);
        EXPECT_EQ(environment.device()->id(), device()->id());
    }
    EXPECT_EQ(contextReferences(handle), before - 1);
    clReleaseContext(handle);
}

TEST_F(ClEnvironmentTest, InvalidExistingContextStaysTheCallers)
{
    LogCapture log;
    const ClContext invalid(platform(), {nullptr}, false);
    EXPECT_FALSE(invalid.isValid());
    EXPECT_EQ(log.countStartingWith("ERROR Couldn't create context ("), 1u);
    EXPECT_TRUE(invalid.devices().empty());

    ClEnvironment environment(platform(), device(), false, false,
                              const_cast<ClContext*>(&invalid));
    EXPECT_NE(environment.context(), &invalid);
    EXPECT_TRUE(environment.context()->isValid());
}

TEST_F(ClEnvironmentTest, QueueOnAnInvalidContextIsLoggedAndInvalid)
{
    LogCapture log;
    const ClCommandQueue queue(nullptr, device(), true, false);
    EXPECT_FALSE(queue.isValid());
    EXPECT_EQ(log.countStartingWith("ERROR Couldn't create OpenCL command queue ("), 1u);
}

TEST_F(ClEnvironmentTest, FailedKernelEnqueueStillHandsBackAnEmptyEvent)
{
    ClEnvironment environment(platform(), device());
    const std::size_t sizes[1] = {1};
    std::unique_ptr<ClEvent> event;
    LogCapture log;
    const cl_int code = environment.queue()->enqueueKernel(nullptr, 1, sizes, sizes, nullptr,
                                                           &event);
    EXPECT_LT(code, 0);
    EXPECT_TRUE(log.contains("ERROR Couldn't enqueue kernel (" + std::to_string(code) + ")"));
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(event->id(), nullptr);
}

TEST_F(ClEnvironmentTest, DefaultEnvironmentIsCreatedOnceAndKept)
{
    ClEnvironment* first = ClEnvironment::defaultEnvironment();
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(first->queue()->isValid());
    EXPECT_EQ(ClEnvironment::defaultEnvironment(), first);
}

/// Runs in a fresh process whose OpenCL loader finds no driver: lists what
/// was logged and thrown on standard error, then exits.
void createEnvironmentsWithoutPlatforms()
{
    LogCapture log;
    for (int attempt = 0; attempt < 2; ++attempt) {
        try {
            ClEnvironment::defaultEnvironment();
            std::cerr << "default created\n";
        } catch (const std::runtime_error& error) {
            std::cerr << "default threw: " << error.what() << "\n";
        }
    }
    try {
        ClEnvironment environment(nullptr, nullptr);
        std::cerr << "created\n";
    } catch (const std::runtime_error& error) {
        std::cerr << "threw: " << error.what() << "\n";
    }
    for (const std::string& line : log.lines())
        std::cerr << line << "\n";
    std::exit(0);
}

TEST(ClEnvironmentWithoutPlatforms, CreationFailsWithMessagesInsteadOfCrashing)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    QTemporaryDir noDrivers;
    const char* previous = std::getenv("OCL_ICD_VENDORS");
    const std::string saved = previous ? previous : "";
    setenv("OCL_ICD_VENDORS", noDrivers.path().toLocal8Bit().constData(), 1);
    EXPECT_EXIT(createEnvironmentsWithoutPlatforms(), testing::ExitedWithCode(0),
                "default threw: Couldn't create OpenCL context\n"
                "default threw: Couldn't create OpenCL context\n"
                "threw: Couldn't create OpenCL context\n"
                "ERROR clGetPlatformIDs failed \\(-?[0-9]+\\)\n"
                "ERROR No OpenCL platforms found\n");
    if (previous)
        setenv("OCL_ICD_VENDORS", saved.c_str(), 1);
    else
        unsetenv("OCL_ICD_VENDORS");
}

}  // namespace
}  // namespace Veltrane
