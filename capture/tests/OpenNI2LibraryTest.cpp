#include "capture/OpenNI2RGBDSensor.h"

#include "LogCapture.h"

#include <gtest/gtest.h>

namespace Veltrane {
namespace {

bool startsWith(const std::string& text, const std::string& prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

// Runs the real OpenNI 2 library on a machine without a camera.
TEST(OpenNI2Library, WithoutACameraInitializeFailsAndCaptureRefuses)
{
    LogCapture log;
    OpenNI2RGBDSensor sensor;
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (sensor.initialize())
            GTEST_SKIP() << "a depth camera is attached";
        const std::vector<LogLine> errors = log.matching("ERROR", "");
        ASSERT_EQ(errors.size(), std::size_t(attempt + 1));
        // Without drivers the library itself fails; with them it finds no device.
        const std::string& message = errors.back().message;
        EXPECT_TRUE(startsWith(message, "OpenNI: Couldn't find supported device. ") ||
                    startsWith(message, "OpenNI initialization failed. "))
            << message;

        EXPECT_FALSE(sensor.isInitialized());
        EXPECT_FALSE(sensor.hasColor());
        EXPECT_FALSE(sensor.start());
        EXPECT_FALSE(sensor.stop());
        EXPECT_FALSE(sensor.supportsAutoWhiteBalance());
        EXPECT_FALSE(sensor.setAutoExposure(true));
        EXPECT_EQ(sensor.width(), 0);
        EXPECT_EQ(sensor.height(), 0);
        EXPECT_EQ(sensor.intrinsics(), Eigen::Matrix3d::Zero());
        EXPECT_TRUE(sensor.close());
    }
}

}  // namespace
}  // namespace Veltrane
