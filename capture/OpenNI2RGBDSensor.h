#pragma once

#include "capture/OpenNI2Device.h"
#include "capture/RGBDSensor.h"

#include <atomic>
#include <memory>

namespace boost {
class thread;
}

namespace Veltrane {

/// Mirrors every row of a one-channel 16-bit image left to right, on two
/// threads. The middle column of an odd width stays in place.
void mirrorDepthRows(TypedImage<unsigned short>& depth);
/// Mirrors every row of a three-channel 8-bit image left to right, pixel by
/// pixel, on two threads.
void mirrorColorRows(TypedImage<unsigned char>& colour);

/// The depth camera that OpenNI 2 finds first, with its colour camera when it
/// has one.
///
/// `initialize` opens a 640x480, 30 fps depth stream in millimetres and, when
/// possible, a colour stream of the same size in packed RGB, maps depth onto
/// colour and estimates the depth camera's matrix; without a usable colour
/// stream the sensor works on depth alone. `start` runs a capture thread that
/// copies each frame pair into two images it reuses for the next frame and
/// hands them to the listeners; frames of devices named "Kinect" are mirrored
/// first. Frames that do not match the negotiated video mode are dropped with
/// a warning. Failures are logged and answered with false.
class OpenNI2RGBDSensor : public RGBDSensor {
public:
    /// A sensor on the OpenNI 2 library.
    OpenNI2RGBDSensor();
    /// A sensor on `device`, which it owns.
    explicit OpenNI2RGBDSensor(std::unique_ptr<OpenNI2Device> device);
    /// Stops capturing and closes the device.
    ~OpenNI2RGBDSensor() override;

    /// Opens the device and its streams. A failure releases whatever was
    /// opened, the library included; an initialised sensor stays as it is.
    bool initialize() override;
    bool isInitialized() override;
    bool hasColor() override;

    /// The controls work on the colour camera when it offers automatic white
    /// balance and automatic exposure; otherwise they all answer false.
    /// `supports...` toggles the setting once and restores it.
    bool supportsAutoWhiteBalance() override;
    bool setAutoWhiteBalance(bool on) override;
    bool autoWhiteBalance() override;
    bool supportsAutoExposure() override;
    bool setAutoExposure(bool on) override;
    bool autoExposure() override;

    /// Stops a running capture and releases streams, device and library.
    /// Always true.
    bool close() override;
    /// False unless initialised and not capturing.
    bool start() override;
    /// False unless capturing. Returns once the capture thread has ended,
    /// after at most one more wait for a frame.
    bool stop() override;

    /// Zero until initialised.
    Eigen::Matrix3d intrinsics() override;
    int width() override;
    int height() override;

private:
    bool openDevice();
    bool openDepthStream();
    void openColorStream();
    /// The first 640x480 mode at 30 fps in `pixelFormat`, in the device's order.
    bool findVideoMode(OpenNI2Stream stream, int pixelFormat, OpenNI2VideoMode& mode);
    /// Sets `mode` and checks that the device reports it back.
    bool applyVideoMode(OpenNI2Stream stream, const OpenNI2VideoMode& mode);
    void releaseDevice();

    void captureLoop();
    /// Reads the stream's next frame into `image`; false, with a warning, when
    /// none came or it does not fit.
    bool readFrameInto(OpenNI2Stream stream, int pixelFormat, MemImage& image);

    bool supportsSetting(OpenNI2CameraSetting setting);
    bool setSetting(OpenNI2CameraSetting setting, bool on);
    bool setting(OpenNI2CameraSetting setting);

    std::unique_ptr<OpenNI2Device> m_device;
    std::unique_ptr<boost::thread> m_captureThread;
    bool m_initialized = false;
    std::atomic<bool> m_capturing{false};
    Eigen::Matrix3d m_cameraMatrix = Eigen::Matrix3d::Zero();
    int m_frameWidth = 0;
    int m_frameHeight = 0;
    bool m_isKinect = false;
};

}  // namespace Veltrane
