#pragma once

#include "capture/OpenNI2Device.h"

#include <OpenNI.h>

namespace Veltrane {

/// The first OpenNI 2 device with its depth and colour video streams, each
/// empty until opened, and the last frame read from each.
class OpenNI2Streams : public OpenNI2Device {
public:
    OpenNI2Streams() = default;
    OpenNI2Streams(const OpenNI2Streams&) = delete;
    OpenNI2Streams& operator=(const OpenNI2Streams&) = delete;

    bool initializeLibrary() override;
    void shutdownLibrary() override;
    std::string extendedError() override;

    bool open(std::string& vendor, std::string& name) override;
    void close() override;

    bool createStream(OpenNI2Stream stream) override;
    void destroyStream(OpenNI2Stream stream) override;
    bool isStreamOpen(OpenNI2Stream stream) override;
    std::vector<OpenNI2VideoMode> supportedVideoModes(OpenNI2Stream stream) override;
    bool setVideoMode(OpenNI2Stream stream, const OpenNI2VideoMode& mode) override;
    bool videoMode(OpenNI2Stream stream, OpenNI2VideoMode& mode) override;
    bool setMirroring(OpenNI2Stream stream, bool on) override;
    bool startStream(OpenNI2Stream stream) override;

    bool enableDepthColorSync() override;
    bool enableDepthToColorRegistration() override;
    bool worldToDepth(float x, float y, float z, float& u, float& v) override;

    bool hasCameraSettings() override;
    bool setCameraSetting(OpenNI2CameraSetting setting, bool on) override;
    bool cameraSetting(OpenNI2CameraSetting setting) override;

    bool waitForAnyStream(bool withColor, int timeoutMs) override;
    bool readFrame(OpenNI2Stream stream, OpenNI2Frame& frame) override;
    void releaseFrames() override;

private:
    openni::VideoStream& videoStream(OpenNI2Stream stream);
    /// Null unless the colour stream is open and offers both controls.
    openni::CameraSettings* colorSettings();
    OniFrame*& heldFrame(OpenNI2Stream stream);
    void releaseFrame(OpenNI2Stream stream);

    openni::Device m_device;
    openni::VideoStream m_depth;
    openni::VideoStream m_color;
    // Held through the C interface: the frame wrapper takes over whatever
    // the read left in its output, even after a failed read.
    OniFrame* m_depthFrame = nullptr;
    OniFrame* m_colorFrame = nullptr;
};

}  // namespace Veltrane
