#include "capture/OpenNI2RGBDSensor.h"

#include "testsupport/LogCapture.h"

#include "FakeOpenNI2Device.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace Veltrane {
namespace {

using Call = FakeOpenNI2Device::Call;
constexpr int Depth = 0;
constexpr int Color = 1;

/// Copies every frame it receives, notes the order of its calls in a log it
/// may share with other listeners, and lets the test wait for frames.
class CopyingListener : public RGBDListener {
public:
    struct Received {
        std::vector<std::uint16_t> depth;
        std::optional<std::vector<std::uint8_t>> color;
        bool pose = false;
    };

    CopyingListener(std::string name, std::vector<std::string>* calls) : m_name(std::move(name)), m_calls(calls) {}

    void onNewFrame(const TypedImage<unsigned char>* colour, const TypedImage<unsigned short>* depth,
                    const double* pose) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_calls->push_back(m_name + " begin");
        Received r;
        r.depth.assign(depth->typedData(), depth->typedData() + depth->elementCount());
        if (colour)
            r.color.emplace(colour->typedData(), colour->typedData() + colour->elementCount());
        r.pose = pose != nullptr;
        m_received.push_back(std::move(r));
        m_calls->push_back(m_name + " end");
        m_arrived.notify_all();
    }

    /// Waits, at most a generous while, until `count` frames have arrived.
    bool waitFor(std::size_t count)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_arrived.wait_for(lock, std::chrono::seconds(20), [&] { return m_received.size() >= count; });
    }

    /// Read once the sensor has stopped.
    const std::vector<Received>& received() const { return m_received; }

private:
    std::string m_name;
    std::vector<std::string>* m_calls;
    std::mutex m_mutex;
    std::condition_variable m_arrived;
    std::vector<Received> m_received;
};

std::vector<std::uint16_t> expectedDepth(int frame, bool mirrored)
{
    std::vector<std::uint16_t> values;
    for (int y = 0; y < FakeOpenNI2Device::Height; ++y)
        for (int x = 0; x < FakeOpenNI2Device::Width; ++x)
            values.push_back(FakeOpenNI2Device::depthValue(mirrored ? FakeOpenNI2Device::Width - 1 - x : x, y, frame));
    return values;
}

std::vector<std::uint8_t> expectedColor(int frame, bool mirrored)
{
    std::vector<std::uint8_t> values;
    for (int y = 0; y < FakeOpenNI2Device::Height; ++y)
        for (int x = 0; x < FakeOpenNI2Device::Width; ++x)
            for (int c = 0; c < 3; ++c)
                values.push_back(
                    FakeOpenNI2Device::colorValue(mirrored ? FakeOpenNI2Device::Width - 1 - x : x, y, c, frame));
    return values;
}

/// Test names from a table row's `name`.
template <typename Row>
std::string nameOf(const ::testing::TestParamInfo<Row>& info)
{
    return info.param.name;
}

class OpenNI2SensorTest : public ::testing::Test {
protected:
    /// Nothing of the device is left open.
    void expectReleased()
    {
        EXPECT_FALSE(device->streamOpen[Depth]);
        EXPECT_FALSE(device->streamOpen[Color]);
        EXPECT_FALSE(device->deviceOpen);
        EXPECT_EQ(device->libraryShutdowns, device->libraryInitializations);
    }

    /// Starts, waits until `listener` has `count` frames, stops.
    void capture(CopyingListener& listener, std::size_t count)
    {
        sensor.addListener(&listener);
        ASSERT_TRUE(sensor.start());
        const bool arrived = listener.waitFor(count);
        EXPECT_TRUE(sensor.stop());
        ASSERT_TRUE(arrived) << "only " << listener.received().size() << " frames arrived";
    }

    std::vector<std::string> calls;
    FakeOpenNI2Device* device = new FakeOpenNI2Device;
    LogCapture log;
    OpenNI2RGBDSensor sensor{std::unique_ptr<OpenNI2Device>(device)};
};

TEST_F(OpenNI2SensorTest, InitializesDepthAndColourAtVgaThirtyFps)
{
    EXPECT_FALSE(sensor.isInitialized());
    EXPECT_EQ(sensor.intrinsics(), Eigen::Matrix3d::Zero());
    ASSERT_TRUE(sensor.initialize());

    EXPECT_TRUE(sensor.isInitialized());
    EXPECT_TRUE(sensor.hasColor());
    EXPECT_EQ(sensor.width(), 640);
    EXPECT_EQ(sensor.height(), 480);
    EXPECT_TRUE(device->streamStarted[Depth] && device->streamStarted[Color]);
    EXPECT_EQ(device->mirroringSet[Depth], false);
    EXPECT_EQ(device->mirroringSet[Color], false);
    EXPECT_TRUE(device->depthColorSync);
    EXPECT_TRUE(device->registration);

    Eigen::Matrix3d K;
    K << FakeOpenNI2Device::Fx, 0, FakeOpenNI2Device::Cx, 0, FakeOpenNI2Device::Fy, FakeOpenNI2Device::Cy, 0, 0, 1;
    EXPECT_LT((sensor.intrinsics() - K).cwiseAbs().maxCoeff(), 1e-3) << sensor.intrinsics();

    EXPECT_EQ(log.matching("INFO", "Using sensor Fake Vendor Fake Name").size(), 1u);
    EXPECT_TRUE(log.matching("WARN", "").empty());
    EXPECT_TRUE(log.matching("ERROR", "").empty());
    EXPECT_TRUE(sensor.initialize()) << "an initialised sensor stays initialised";
    EXPECT_EQ(device->libraryInitializations, 1);

    EXPECT_TRUE(sensor.close());
    EXPECT_FALSE(sensor.isInitialized());
    expectReleased();
}

TEST_F(OpenNI2SensorTest, TakesTheFirstVgaThirtyFpsModeInACopyableFormat)
{
    const int depth100um = 101, yuv422 = 201;
    device->depthModes = {{OpenNI2PixelFormat::Depth1mm, 320, 240, 30},
                          {OpenNI2PixelFormat::Depth1mm, 640, 480, 60},
                          {depth100um, 640, 480, 30},
                          {OpenNI2PixelFormat::Depth1mm, 640, 480, 30},
                          {OpenNI2PixelFormat::Depth1mm, 640, 480, 25}};
    device->colorModes = {{yuv422, 640, 480, 30},
                          {OpenNI2PixelFormat::Rgb888, 1280, 1024, 30},
                          {OpenNI2PixelFormat::Rgb888, 640, 480, 30}};
    ASSERT_TRUE(sensor.initialize());
    ASSERT_TRUE(device->modeSet[Depth] && device->modeSet[Color]);
    EXPECT_EQ(device->modeSet[Depth]->pixelFormat, OpenNI2PixelFormat::Depth1mm);
    EXPECT_EQ(device->modeSet[Depth]->fps, 30);
    EXPECT_EQ(device->modeSet[Color]->pixelFormat, OpenNI2PixelFormat::Rgb888);
    EXPECT_EQ(device->modeSet[Color]->width, 640);
}

struct InitFailure {
    const char* name;
    std::function<void(FakeOpenNI2Device&)> breakDevice;
    const char* level;
    std::string message;
};

void PrintTo(const InitFailure& failure, std::ostream* os) { *os << failure.name; }

class FailedInitialize : public OpenNI2SensorTest, public ::testing::WithParamInterface<InitFailure> {};

TEST_P(FailedInitialize, LogsReleasesEverythingAndCanBeRetried)
{
    const InitFailure& failure = GetParam();
    failure.breakDevice(*device);

    EXPECT_FALSE(sensor.initialize());
    EXPECT_FALSE(sensor.isInitialized());
    const std::vector<LogLine> errors = log.matching(failure.level, "");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].message, failure.message);
    EXPECT_TRUE(log.matching("INFO", "Using sensor").empty());
    expectReleased();
    EXPECT_EQ(sensor.intrinsics(), Eigen::Matrix3d::Zero());
    EXPECT_FALSE(sensor.start());
    EXPECT_FALSE(sensor.stop());
    EXPECT_FALSE(sensor.autoExposure());
    EXPECT_TRUE(sensor.close());

    device->failing.clear();
    device->depthModes = {{OpenNI2PixelFormat::Depth1mm, 640, 480, 30}};
    EXPECT_TRUE(sensor.initialize());
    EXPECT_TRUE(sensor.hasColor());
}

std::function<void(FakeOpenNI2Device&)> failCall(Call call)
{
    return [call](FakeOpenNI2Device& d) { d.failing.insert(call); };
}

std::string withError(const std::string& text, Call call) { return text + FakeOpenNI2Device::errorOf(call); }

INSTANTIATE_TEST_SUITE_P(
    Steps, FailedInitialize,
    ::testing::Values(
        InitFailure{"Library", failCall(Call::InitializeLibrary), "ERROR",
                    withError("OpenNI initialization failed. ", Call::InitializeLibrary)},
        InitFailure{"NoDevice", failCall(Call::Open), "ERROR",
                    withError("OpenNI: Couldn't find supported device. ", Call::Open)},
        InitFailure{"DepthStream", failCall(Call::CreateDepth), "ERROR",
                    withError("OpenNI: Cannot open depth device. ", Call::CreateDepth)},
        InitFailure{"NoDepthMode",
                    [](FakeOpenNI2Device& d) {
                        d.depthModes = {{OpenNI2PixelFormat::Depth1mm, 320, 240, 30}, {101, 640, 480, 30}};
                    },
                    "ERROR", "OpenNI: Depth camera does not support desired video mode"},
        InitFailure{"SetDepthMode", failCall(Call::SetDepthMode), "ERROR",
                    withError("OpenNI: Cannot set depth video mode. ", Call::SetDepthMode)},
        InitFailure{"ReadBackDepthMode", failCall(Call::ReadDepthMode), "ERROR",
                    withError("OpenNI: Cannot set depth video mode. ", Call::ReadDepthMode)},
        InitFailure{"StartDepth", failCall(Call::StartDepth), "ERROR",
                    withError("OpenNI: Cannot start depth device. ", Call::StartDepth)},
        InitFailure{"Registration", failCall(Call::Registration), "ERROR",
                    withError("OpenNI: Cannot set image registration mode. ", Call::Registration)},
        InitFailure{"CoordinateConverter", failCall(Call::WorldToDepth), "ERROR",
                    withError("OpenNI: Cannot convert coordinates to the depth image. ", Call::WorldToDepth)}),
    nameOf<InitFailure>);

class ColorFailure : public OpenNI2SensorTest, public ::testing::WithParamInterface<InitFailure> {};

TEST_P(ColorFailure, LeavesADepthOnlySensorWithoutControls)
{
    GetParam().breakDevice(*device);
    ASSERT_TRUE(sensor.initialize());

    EXPECT_FALSE(sensor.hasColor());
    EXPECT_FALSE(device->streamOpen[Color]);
    const std::vector<LogLine> warnings = log.matching(GetParam().level, "");
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_EQ(warnings[0].message, GetParam().message);
    EXPECT_TRUE(log.matching("ERROR", "").empty());
    EXPECT_TRUE(device->registration);
    EXPECT_TRUE(device->depthColorSync);
    EXPECT_FALSE(sensor.supportsAutoWhiteBalance());
    EXPECT_FALSE(sensor.setAutoWhiteBalance(true));
    EXPECT_FALSE(sensor.autoWhiteBalance());
    EXPECT_FALSE(sensor.supportsAutoExposure());
    EXPECT_FALSE(sensor.setAutoExposure(true));
    EXPECT_FALSE(sensor.autoExposure());
}

INSTANTIATE_TEST_SUITE_P(
    Steps, ColorFailure,
    ::testing::Values(
        InitFailure{"ColorStream", failCall(Call::CreateColor), "WARN",
                    withError("OpenNI: Cannot open color device. ", Call::CreateColor)},
        InitFailure{"NoColorMode",
                    [](FakeOpenNI2Device& d) { d.colorModes = {{201, 640, 480, 30}}; }, "WARN",
                    "OpenNI: Color camera does not support desired video mode. Only using depth sensor."},
        InitFailure{"SetColorMode", failCall(Call::SetColorMode), "WARN",
                    withError("OpenNI: Cannot set color video mode. ", Call::SetColorMode)},
        InitFailure{"ReadBackColorMode", failCall(Call::ReadColorMode), "WARN",
                    withError("OpenNI: Cannot set color video mode. ", Call::ReadColorMode)},
        InitFailure{"StartColor", failCall(Call::StartColor), "WARN",
                    withError("OpenNI: Cannot start color device. ", Call::StartColor)}),
    nameOf<InitFailure>);

TEST_F(OpenNI2SensorTest, DeliversDepthAndColourToEveryListenerInOrder)
{
    ASSERT_TRUE(sensor.initialize());
    for (int i = 0; i < 3; ++i)
        device->turns.push_back(FakeOpenNI2Device::frameTurn(i));
    CopyingListener first("first", &calls), second("second", &calls);
    sensor.addListener(&first);
    capture(second, 3);

    ASSERT_EQ(first.received().size(), 3u);
    ASSERT_EQ(second.received().size(), 3u);
    for (int i = 0; i < 3; ++i)
        for (const CopyingListener* listener : {&first, &second}) {
            const CopyingListener::Received& r = listener->received()[i];
            EXPECT_EQ(r.depth, expectedDepth(i, false)) << "frame " << i;
            ASSERT_TRUE(r.color);
            EXPECT_EQ(*r.color, expectedColor(i, false)) << "frame " << i;
            EXPECT_FALSE(r.pose);
        }
    std::vector<std::string> expectedCalls;
    for (int i = 0; i < 3; ++i)
        expectedCalls.insert(expectedCalls.end(), {"first begin", "first end", "second begin", "second end"});
    EXPECT_EQ(calls, expectedCalls);

    ASSERT_FALSE(device->waits.empty());
    for (const auto& [withColor, timeout] : device->waits) {
        EXPECT_TRUE(withColor);
        EXPECT_EQ(timeout, 2000);
    }
    EXPECT_EQ(device->framesReleased, 1);
}

TEST_F(OpenNI2SensorTest, DepthOnlyDeviceDeliversNullColour)
{
    device->failing.insert(Call::CreateColor);
    ASSERT_TRUE(sensor.initialize());
    device->turns.push_back(FakeOpenNI2Device::frameTurn(0, false));
    device->turns.push_back(FakeOpenNI2Device::frameTurn(1, false));
    CopyingListener listener("only", &calls);
    capture(listener, 2);

    ASSERT_EQ(listener.received().size(), 2u);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(listener.received()[i].depth, expectedDepth(i, false));
        EXPECT_FALSE(listener.received()[i].color);
    }
    for (const auto& wait : device->waits)
        EXPECT_FALSE(wait.first) << "waited on a colour stream that is not open";
}

struct DeviceName {
    const char* name;
    bool mirrored;
};

void PrintTo(const DeviceName& device, std::ostream* os) { *os << device.name; }

class FrameMirroring : public OpenNI2SensorTest, public ::testing::WithParamInterface<DeviceName> {};

TEST_P(FrameMirroring, AppliesToKinectDevicesOnly)
{
    device->name = GetParam().name;
    ASSERT_TRUE(sensor.initialize());
    device->turns.push_back(FakeOpenNI2Device::frameTurn(4));
    CopyingListener listener("only", &calls);
    capture(listener, 1);

    EXPECT_EQ(listener.received()[0].depth, expectedDepth(4, GetParam().mirrored));
    ASSERT_TRUE(listener.received()[0].color);
    EXPECT_EQ(*listener.received()[0].color, expectedColor(4, GetParam().mirrored));
}

// The name match is case-sensitive.
INSTANTIATE_TEST_SUITE_P(Devices, FrameMirroring,
                         ::testing::Values(DeviceName{"Kinect", true}, DeviceName{"Xbox NUI Kinect 360", true},
                                           DeviceName{"PS1080", false}, DeviceName{"kinect-like", false}));

TEST_F(OpenNI2SensorTest, WarnsWhenNoFrameArrivesAndWaitsAgain)
{
    ASSERT_TRUE(sensor.initialize());
    FakeOpenNI2Device::Turn timeOut;
    timeOut.ready = false;
    device->turns.push_back(timeOut);
    device->turns.push_back(FakeOpenNI2Device::frameTurn(5));
    CopyingListener listener("only", &calls);
    capture(listener, 1);

    const std::vector<LogLine> warnings = log.matching("WARN", "OpenNI: Cannot read data from device. ");
    ASSERT_FALSE(warnings.empty());
    EXPECT_EQ(warnings[0].message, "OpenNI: Cannot read data from device. fake wait timed out");
    EXPECT_EQ(listener.received()[0].depth, expectedDepth(5, false));
}

struct BadFrame {
    const char* name;
    std::function<void(FakeOpenNI2Device::Turn&)> spoil;
    std::string warning;
};

void PrintTo(const BadFrame& frame, std::ostream* os) { *os << frame.name; }

class DroppedFrame : public OpenNI2SensorTest, public ::testing::WithParamInterface<BadFrame> {};

TEST_P(DroppedFrame, IsSkippedWithAWarning)
{
    ASSERT_TRUE(sensor.initialize());
    FakeOpenNI2Device::Turn bad = FakeOpenNI2Device::frameTurn(0);
    GetParam().spoil(bad);
    device->turns.push_back(bad);
    device->turns.push_back(FakeOpenNI2Device::frameTurn(1));
    CopyingListener listener("only", &calls);
    capture(listener, 1);

    ASSERT_EQ(listener.received().size(), 1u) << "the bad frame reached the listener";
    EXPECT_EQ(listener.received()[0].depth, expectedDepth(1, false));
    const std::vector<LogLine> warnings = log.matching("WARN", "OpenNI: Invalid ");
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_EQ(warnings[0].message.substr(0, GetParam().warning.size()), GetParam().warning);
}

INSTANTIATE_TEST_SUITE_P(
    Frames, DroppedFrame,
    ::testing::Values(
        BadFrame{"NoDepth", [](FakeOpenNI2Device::Turn& t) { t.depth.reset(); },
                 "OpenNI: Invalid depth data. fake depth read failed"},
        BadFrame{"NoColor", [](FakeOpenNI2Device::Turn& t) { t.color.reset(); },
                 "OpenNI: Invalid color data. fake color read failed"},
        BadFrame{"SmallDepth", [](FakeOpenNI2Device::Turn& t) { t.depth = FakeOpenNI2Device::depthFrame(0, 320, 240); },
                 "OpenNI: Invalid depth data. The frame (320x240, pixel format 100, 153600 bytes)"},
        BadFrame{"SmallColor", [](FakeOpenNI2Device::Turn& t) { t.color = FakeOpenNI2Device::colorFrame(0, 640, 240); },
                 "OpenNI: Invalid color data. The frame (640x240, pixel format 200"},
        BadFrame{"DepthInTenthsOfMillimetres",
                 [](FakeOpenNI2Device::Turn& t) { t.depth->header.pixelFormat = 101; },
                 "OpenNI: Invalid depth data. The frame (640x480, pixel format 101"},
        BadFrame{"ColorWithTwoBytesPerPixel",
                 [](FakeOpenNI2Device::Turn& t) {
                     t.color->header.pixelFormat = 201;
                     t.color->header.stride = 640 * 2;
                     t.color->header.dataSize = 640 * 480 * 2;
                 },
                 "OpenNI: Invalid color data. The frame (640x480, pixel format 201"},
        BadFrame{"PaddedDepthRows", [](FakeOpenNI2Device::Turn& t) { t.depth->header.stride += 16; },
                 "OpenNI: Invalid depth data. The frame ("},
        BadFrame{"ShortDepthData", [](FakeOpenNI2Device::Turn& t) { t.depth->header.dataSize -= 1; },
                 "OpenNI: Invalid depth data. The frame (640x480, pixel format 100, 614399 bytes)"}),
    nameOf<BadFrame>);

TEST_F(OpenNI2SensorTest, StartAndStopRefuseOutOfTurn)
{
    EXPECT_FALSE(sensor.start()) << "not initialised";
    ASSERT_TRUE(sensor.initialize());
    EXPECT_FALSE(sensor.stop()) << "not capturing";
    ASSERT_TRUE(sensor.start());
    EXPECT_FALSE(sensor.start()) << "already capturing";
    EXPECT_TRUE(sensor.stop());
    EXPECT_FALSE(sensor.stop());

    // A second run reuses the sensor.
    device->turns.push_back(FakeOpenNI2Device::frameTurn(3));
    CopyingListener listener("only", &calls);
    capture(listener, 1);
    EXPECT_EQ(listener.received()[0].depth, expectedDepth(3, false));
}

TEST_F(OpenNI2SensorTest, CloseStopsTheCaptureAndReleasesTheDevice)
{
    ASSERT_TRUE(sensor.initialize());
    ASSERT_TRUE(sensor.start());
    EXPECT_TRUE(sensor.close());
    EXPECT_FALSE(sensor.isInitialized());
    EXPECT_EQ(device->framesReleased, 1) << "the capture thread had not ended";
    expectReleased();
    EXPECT_FALSE(sensor.start());
    EXPECT_FALSE(sensor.stop());
    EXPECT_TRUE(sensor.close());
}

TEST(OpenNI2Sensor, DestructorEndsACaptureAndReleasesTheDevice)
{
    bool released = false;
    auto* device = new FakeOpenNI2Device;
    device->onDestroyed = [&released](FakeOpenNI2Device& d) {
        released = d.framesReleased == 1 && !d.deviceOpen && !d.streamOpen[Depth] && !d.streamOpen[Color] &&
                   d.libraryShutdowns == 1;
    };
    {
        OpenNI2RGBDSensor sensor{std::unique_ptr<OpenNI2Device>(device)};
        ASSERT_TRUE(sensor.initialize());
        ASSERT_TRUE(sensor.start());
    }
    EXPECT_TRUE(released);
}

struct ControlCase {
    OpenNI2CameraSetting setting;
    bool initially;
};

void PrintTo(const ControlCase& c, std::ostream* os)
{
    *os << (c.setting == OpenNI2CameraSetting::AutoWhiteBalance ? "white balance" : "exposure") << ", initially "
        << (c.initially ? "on" : "off");
}

class CameraControl : public OpenNI2SensorTest, public ::testing::WithParamInterface<ControlCase> {
protected:
    bool whiteBalance() const { return GetParam().setting == OpenNI2CameraSetting::AutoWhiteBalance; }
    bool supports() { return whiteBalance() ? sensor.supportsAutoWhiteBalance() : sensor.supportsAutoExposure(); }
    bool current() { return whiteBalance() ? sensor.autoWhiteBalance() : sensor.autoExposure(); }
    bool set(bool on) { return whiteBalance() ? sensor.setAutoWhiteBalance(on) : sensor.setAutoExposure(on); }
    bool& deviceValue() { return device->settings[int(GetParam().setting)]; }
};

TEST_P(CameraControl, SupportLeavesTheSettingAsItWas)
{
    ASSERT_TRUE(sensor.initialize());
    deviceValue() = GetParam().initially;
    EXPECT_TRUE(supports());
    EXPECT_EQ(deviceValue(), GetParam().initially);
    EXPECT_EQ(device->settingWrites, 2);
    EXPECT_EQ(current(), GetParam().initially);

    EXPECT_TRUE(set(!GetParam().initially));
    EXPECT_EQ(deviceValue(), !GetParam().initially);
    EXPECT_EQ(current(), !GetParam().initially);
}

TEST_P(CameraControl, IgnoredWritesMeanNoSupport)
{
    ASSERT_TRUE(sensor.initialize());
    deviceValue() = GetParam().initially;
    device->ignoresCameraSettings = true;
    EXPECT_FALSE(supports());
    EXPECT_EQ(device->settingWrites, 1) << "the old value is not written back";
    EXPECT_FALSE(set(!GetParam().initially));
}

TEST_P(CameraControl, FailedWritesMeanNoSupport)
{
    ASSERT_TRUE(sensor.initialize());
    deviceValue() = GetParam().initially;
    device->failing.insert(Call::SetCameraSetting);
    EXPECT_FALSE(supports());
    EXPECT_FALSE(set(!GetParam().initially));
    EXPECT_EQ(deviceValue(), GetParam().initially);
}

TEST_P(CameraControl, ColourCameraWithoutControlsAnswersFalse)
{
    device->offersCameraSettings = false;
    ASSERT_TRUE(sensor.initialize());
    deviceValue() = true;
    EXPECT_FALSE(supports());
    EXPECT_FALSE(set(true));
    EXPECT_FALSE(current());
    EXPECT_EQ(device->settingWrites, 0);
}

INSTANTIATE_TEST_SUITE_P(Settings, CameraControl,
                         ::testing::Values(ControlCase{OpenNI2CameraSetting::AutoWhiteBalance, false},
                                           ControlCase{OpenNI2CameraSetting::AutoWhiteBalance, true},
                                           ControlCase{OpenNI2CameraSetting::AutoExposure, false},
                                           ControlCase{OpenNI2CameraSetting::AutoExposure, true}));

class RowMirroring : public ::testing::TestWithParam<int> {};

TEST_P(RowMirroring, SwapsPixelsAcrossTheMiddleColumn)
{
    const int width = GetParam(), height = 5;
    TypedImage<unsigned short> depth(PixelType::UnsignedShort, width, height, 1, 1);
    TypedImage<unsigned char> colour(PixelType::UnsignedByte, width, height, 1, 3);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            depth.typedData()[y * width + x] = static_cast<unsigned short>(1000 * y + x);
            for (int c = 0; c < 3; ++c)
                colour.typedData()[(y * width + x) * 3 + c] = static_cast<unsigned char>(40 * y + 3 * x + c);
        }
    mirrorDepthRows(depth);
    mirrorColorRows(colour);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const int source = width - 1 - x;
            ASSERT_EQ(depth.typedData()[y * width + x], 1000 * y + source) << x << "," << y;
            for (int c = 0; c < 3; ++c)
                ASSERT_EQ(colour.typedData()[(y * width + x) * 3 + c], 40 * y + 3 * source + c)
                    << x << "," << y << " channel " << c;
        }
}

INSTANTIATE_TEST_SUITE_P(Widths, RowMirroring, ::testing::Values(1, 2, 3, 4, 7, 8));

}  // namespace
}  // namespace Veltrane
