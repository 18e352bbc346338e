#pragma once

#include <string>
#include <vector>

namespace Veltrane {

/// The two video streams of a depth camera.
enum class OpenNI2Stream { Depth, Color };

/// Automatic controls of the colour camera.
enum class OpenNI2CameraSetting { AutoWhiteBalance, AutoExposure };

/// OpenNI 2 pixel formats the capture can copy.
namespace OpenNI2PixelFormat {
constexpr int Depth1mm = 100;  ///< 16-bit depth in millimetres
constexpr int Rgb888 = 200;    ///< packed 8-bit RGB
}  // namespace OpenNI2PixelFormat

struct OpenNI2VideoMode {
    int pixelFormat = 0;
    int width = 0;
    int height = 0;
    int fps = 0;
};

/// One frame as the device delivered it. `data` stays valid until the next
/// read on the same stream or `releaseFrames`.
struct OpenNI2Frame {
    const void* data = nullptr;
    int dataSize = 0;  ///< bytes
    int width = 0;
    int height = 0;
    int stride = 0;  ///< bytes per row
    int pixelFormat = 0;
};

/// The OpenNI 2 calls the sensor makes, one operation per call, with OpenNI's
/// results reduced to success or failure. After a failure `extendedError`
/// tells why. `OpenNI2Streams` makes the calls for real; tests drive the
/// sensor with a scripted device instead.
class OpenNI2Device {
public:
    virtual ~OpenNI2Device() = default;

    /// Loads the library and its drivers.
    virtual bool initializeLibrary() = 0;
    virtual void shutdownLibrary() = 0;
    /// Why the last call failed, in the library's words.
    virtual std::string extendedError() = 0;

    /// Opens the first device found and reports its vendor and name.
    virtual bool open(std::string& vendor, std::string& name) = 0;
    /// Closes the device; does nothing when none is open.
    virtual void close() = 0;

    virtual bool createStream(OpenNI2Stream stream) = 0;
    /// Destroys the stream; does nothing when it is not open.
    virtual void destroyStream(OpenNI2Stream stream) = 0;
    virtual bool isStreamOpen(OpenNI2Stream stream) = 0;
    /// The stream's video modes in the device's order.
    virtual std::vector<OpenNI2VideoMode> supportedVideoModes(OpenNI2Stream stream) = 0;
    virtual bool setVideoMode(OpenNI2Stream stream, const OpenNI2VideoMode& mode) = 0;
    virtual bool videoMode(OpenNI2Stream stream, OpenNI2VideoMode& mode) = 0;
    virtual bool setMirroring(OpenNI2Stream stream, bool on) = 0;
    virtual bool startStream(OpenNI2Stream stream) = 0;

    virtual bool enableDepthColorSync() = 0;
    /// Maps the depth image onto the colour image.
    virtual bool enableDepthToColorRegistration() = 0;
    /// Pixel (u, v) of a world point in millimetres, through the depth stream.
    virtual bool worldToDepth(float x, float y, float z, float& u, float& v) = 0;

    /// The colour stream is open and offers both automatic controls.
    virtual bool hasCameraSettings() = 0;
    virtual bool setCameraSetting(OpenNI2CameraSetting setting, bool on) = 0;
    /// True only when the setting could be read and is on.
    virtual bool cameraSetting(OpenNI2CameraSetting setting) = 0;

    /// Waits up to `timeoutMs` for a frame on the depth stream or, with
    /// `withColor`, on the colour stream; false on time-out or failure.
    virtual bool waitForAnyStream(bool withColor, int timeoutMs) = 0;
    /// Takes the stream's next frame, releasing the one taken before; false
    /// when none came back.
    virtual bool readFrame(OpenNI2Stream stream, OpenNI2Frame& frame) = 0;
    /// Releases the frames still held.
    virtual void releaseFrames() = 0;
};

}  // namespace Veltrane
