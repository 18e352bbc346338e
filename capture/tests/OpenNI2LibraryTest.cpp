#include "capture/OpenNI2RGBDSensor.h"

#include "testsupport/LogCapture.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace Veltrane {
namespace {

bool startsWith(const std::string& text, const std::string& prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

/// Runs the real OpenNI 2 library twice through initialisation on a machine
/// without a camera; returns what went otherwise than expected, or nothing.
std::string problemsWithoutCamera()
{
    std::ostringstream problems;
    LogCapture log;
    OpenNI2RGBDSensor sensor;
    for (std::size_t attempt = 1; attempt <= 2; ++attempt) {
        if (sensor.initialize()) {
            std::fputs("a depth camera is attached; nothing to check\n", stderr);
            return {};
        }
        const std::vector<LogLine> errors = log.matching("ERROR", "");
        // Without drivers the library itself fails; with them it finds no device.
        if (errors.size() != attempt ||
            !(startsWith(errors.back().message, "OpenNI: Couldn't find supported device. ") ||
              startsWith(errors.back().message, "OpenNI initialization failed. ")))
            problems << "attempt " << attempt << ": unexpected errors logged (" << errors.size() << ")\n";
        const bool refusals[] = {sensor.isInitialized(), sensor.hasColor(), sensor.start(), sensor.stop(),
                                 sensor.supportsAutoWhiteBalance(), sensor.setAutoExposure(true)};
        for (std::size_t i = 0; i < std::size(refusals); ++i)
            if (refusals[i])
                problems << "attempt " << attempt << ": query " << i << " answered true\n";
        if (sensor.width() != 0 || sensor.height() != 0 || sensor.intrinsics() != Eigen::Matrix3d::Zero())
            problems << "attempt " << attempt << ": frame size or intrinsics set\n";
        if (!sensor.close())
            problems << "attempt " << attempt << ": close failed\n";
    }
    return problems.str();
}

TEST(OpenNI2Library, WithoutACameraInitializeFailsAndCaptureRefuses)
{
    // In a fresh child process that ends without exit handlers: the library's
    // drivers leave allocations behind when they are unloaded, which a leak
    // checker can no longer attribute to them.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            const std::string problems = problemsWithoutCamera();
            std::fputs(problems.c_str(), stderr);
            std::_Exit(problems.empty() ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace Veltrane
