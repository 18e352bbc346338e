#include "capture/OpenNI2RGBDSensor.h"

#include "capture/IntrinsicsEstimate.h"
#include "capture/OpenNI2Streams.h"
#include "core/Logging.h"

#include <boost/thread/thread.hpp>

#include <algorithm>

namespace Veltrane {

namespace {

constexpr int FrameWidth = 640;
constexpr int FrameHeight = 480;
constexpr int FramesPerSecond = 30;
constexpr int FrameWaitMs = 2000;

const char* streamName(OpenNI2Stream stream) { return stream == OpenNI2Stream::Depth ? "depth" : "color"; }

template <typename T>
void mirrorRows(TypedImage<T>& image)
{
    const int width = image.width;
    const int height = image.height * image.slices;
    const int channels = image.channels;
    T* const values = image.typedData();
#pragma omp parallel for num_threads(2) schedule(static)
    for (int y = 0; y < height; ++y) {
        T* const row = values + static_cast<std::size_t>(y) * width * channels;
        for (int x = 0; x < width / 2; ++x)
            std::swap_ranges(row + x * channels, row + (x + 1) * channels, row + (width - 1 - x) * channels);
    }
}

}  // namespace

void mirrorDepthRows(TypedImage<unsigned short>& depth) { mirrorRows(depth); }

void mirrorColorRows(TypedImage<unsigned char>& colour) { mirrorRows(colour); }

OpenNI2RGBDSensor::OpenNI2RGBDSensor() : OpenNI2RGBDSensor(std::make_unique<OpenNI2Streams>()) {}

OpenNI2RGBDSensor::OpenNI2RGBDSensor(std::unique_ptr<OpenNI2Device> device) : m_device(std::move(device)) {}

OpenNI2RGBDSensor::~OpenNI2RGBDSensor() { close(); }

bool OpenNI2RGBDSensor::initialize()
{
    if (m_initialized)
        return true;
    if (!m_device->initializeLibrary()) {
        VELTRANE_ERROR("OpenNI initialization failed. " << m_device->extendedError());
        return false;
    }
    if (!openDevice()) {
        releaseDevice();
        return false;
    }
    m_initialized = true;
    return true;
}

bool OpenNI2RGBDSensor::openDevice()
{
    std::string vendor, name;
    if (!m_device->open(vendor, name)) {
        VELTRANE_ERROR("OpenNI: Couldn't find supported device. " << m_device->extendedError());
        return false;
    }
    if (!openDepthStream())
        return false;
    openColorStream();
    m_device->enableDepthColorSync();
    if (!m_device->enableDepthToColorRegistration()) {
        VELTRANE_ERROR("OpenNI: Cannot set image registration mode. " << m_device->extendedError());
        return false;
    }
    const WorldToDepth project = [this](float x, float y, float z, float& u, float& v) {
        return m_device->worldToDepth(x, y, z, u, v);
    };
    if (!estimateCameraMatrix(project, m_cameraMatrix)) {
        VELTRANE_ERROR("OpenNI: Cannot convert coordinates to the depth image. " << m_device->extendedError());
        return false;
    }
    VELTRANE_INFO("Using sensor " << vendor << " " << name);
    m_isKinect = name.find("Kinect") != std::string::npos;
    return true;
}

bool OpenNI2RGBDSensor::openDepthStream()
{
    const OpenNI2Stream depth = OpenNI2Stream::Depth;
    if (!m_device->createStream(depth)) {
        VELTRANE_ERROR("OpenNI: Cannot open depth device. " << m_device->extendedError());
        return false;
    }
    OpenNI2VideoMode mode;
    if (!findVideoMode(depth, OpenNI2PixelFormat::Depth1mm, mode)) {
        VELTRANE_ERROR("OpenNI: Depth camera does not support desired video mode");
        return false;
    }
    if (!applyVideoMode(depth, mode)) {
        VELTRANE_ERROR("OpenNI: Cannot set depth video mode. " << m_device->extendedError());
        return false;
    }
    m_frameWidth = mode.width;
    m_frameHeight = mode.height;
    m_device->setMirroring(depth, false);
    if (!m_device->startStream(depth)) {
        VELTRANE_ERROR("OpenNI: Cannot start depth device. " << m_device->extendedError());
        return false;
    }
    return true;
}

void OpenNI2RGBDSensor::openColorStream()
{
    const OpenNI2Stream color = OpenNI2Stream::Color;
    if (!m_device->createStream(color)) {
        VELTRANE_WARN("OpenNI: Cannot open color device. " << m_device->extendedError());
        m_device->destroyStream(color);
        return;
    }
    OpenNI2VideoMode mode;
    if (!findVideoMode(color, OpenNI2PixelFormat::Rgb888, mode)) {
        VELTRANE_WARN("OpenNI: Color camera does not support desired video mode. Only using depth sensor.");
        m_device->destroyStream(color);
        return;
    }
    if (!applyVideoMode(color, mode)) {
        VELTRANE_WARN("OpenNI: Cannot set color video mode. " << m_device->extendedError());
        m_device->destroyStream(color);
        return;
    }
    m_device->setMirroring(color, false);
    if (!m_device->startStream(color)) {
        VELTRANE_WARN("OpenNI: Cannot start color device. " << m_device->extendedError());
        m_device->destroyStream(color);
    }
}

bool OpenNI2RGBDSensor::findVideoMode(OpenNI2Stream stream, int pixelFormat, OpenNI2VideoMode& mode)
{
    const std::vector<OpenNI2VideoMode> modes = m_device->supportedVideoModes(stream);
    const auto found = std::find_if(modes.begin(), modes.end(), [pixelFormat](const OpenNI2VideoMode& m) {
        return m.width == FrameWidth && m.height == FrameHeight && m.fps == FramesPerSecond &&
               m.pixelFormat == pixelFormat;
    });
    if (found == modes.end())
        return false;
    mode = *found;
    return true;
}

bool OpenNI2RGBDSensor::applyVideoMode(OpenNI2Stream stream, const OpenNI2VideoMode& mode)
{
    OpenNI2VideoMode current;
    return m_device->setVideoMode(stream, mode) && m_device->videoMode(stream, current) &&
           current.pixelFormat == mode.pixelFormat && current.width == mode.width &&
           current.height == mode.height;
}

void OpenNI2RGBDSensor::releaseDevice()
{
    m_device->destroyStream(OpenNI2Stream::Depth);
    m_device->destroyStream(OpenNI2Stream::Color);
    m_device->close();
    m_device->shutdownLibrary();
}

bool OpenNI2RGBDSensor::isInitialized() { return m_initialized; }

bool OpenNI2RGBDSensor::hasColor() { return m_device->isStreamOpen(OpenNI2Stream::Color); }

bool OpenNI2RGBDSensor::close()
{
    if (m_initialized) {
        stop();
        releaseDevice();
        m_initialized = false;
    }
    return true;
}

bool OpenNI2RGBDSensor::start()
{
    if (!m_initialized || m_capturing)
        return false;
    m_capturing = true;
    try {
        m_captureThread = std::make_unique<boost::thread>([this] { captureLoop(); });
    } catch (...) {
        m_capturing = false;
        throw;
    }
    return true;
}

bool OpenNI2RGBDSensor::stop()
{
    if (!m_initialized || !m_capturing)
        return false;
    m_capturing = false;
    m_captureThread->join();
    m_captureThread.reset();
    return true;
}

Eigen::Matrix3d OpenNI2RGBDSensor::intrinsics() { return m_cameraMatrix; }

int OpenNI2RGBDSensor::width() { return m_frameWidth; }

int OpenNI2RGBDSensor::height() { return m_frameHeight; }

void OpenNI2RGBDSensor::captureLoop()
{
    const std::unique_ptr<TypedImage<unsigned short>> depth(
        TypedImage<unsigned short>::create(PixelType::UnsignedShort, m_frameWidth, m_frameHeight, 1, 1));
    const std::unique_ptr<TypedImage<unsigned char>> colour(
        TypedImage<unsigned char>::create(PixelType::UnsignedByte, m_frameWidth, m_frameHeight, 1, 3));
    if (!depth || !colour) {
        VELTRANE_ERROR("OpenNI: Cannot allocate the frame images.");
        return;
    }
    const bool withColor = hasColor();

    while (m_capturing) {
        if (!m_device->waitForAnyStream(withColor, FrameWaitMs)) {
            VELTRANE_WARN("OpenNI: Cannot read data from device. " << m_device->extendedError());
            continue;
        }
        if (!readFrameInto(OpenNI2Stream::Depth, OpenNI2PixelFormat::Depth1mm, *depth))
            continue;
        if (withColor && !readFrameInto(OpenNI2Stream::Color, OpenNI2PixelFormat::Rgb888, *colour))
            continue;
        if (m_isKinect) {
            mirrorDepthRows(*depth);
            if (withColor)
                mirrorColorRows(*colour);
        }
        notifyListeners(withColor ? colour.get() : nullptr, depth.get());
    }
    m_device->releaseFrames();
}

bool OpenNI2RGBDSensor::readFrameInto(OpenNI2Stream stream, int pixelFormat, MemImage& image)
{
    OpenNI2Frame frame;
    if (!m_device->readFrame(stream, frame)) {
        VELTRANE_WARN("OpenNI: Invalid " << streamName(stream) << " data. " << m_device->extendedError());
        return false;
    }
    const int rowBytes = image.width * image.channels * image.bytesPerElement();
    const bool fits = frame.data && frame.width == image.width && frame.height == image.height &&
                      frame.pixelFormat == pixelFormat && frame.stride == rowBytes && frame.dataSize >= 0 &&
                      static_cast<std::size_t>(frame.dataSize) >= image.byteSize();
    if (!fits) {
        VELTRANE_WARN("OpenNI: Invalid " << streamName(stream) << " data. The frame (" << frame.width << "x"
                                         << frame.height << ", pixel format " << frame.pixelFormat << ", "
                                         << frame.dataSize << " bytes) does not match the video mode.");
        return false;
    }
    image.copyData(frame.data);
    return true;
}

bool OpenNI2RGBDSensor::supportsSetting(OpenNI2CameraSetting setting)
{
    if (!m_device->hasCameraSettings())
        return false;
    const bool current = m_device->cameraSetting(setting);
    if (!m_device->setCameraSetting(setting, !current) || m_device->cameraSetting(setting) == current)
        return false;
    m_device->setCameraSetting(setting, current);
    return true;
}

bool OpenNI2RGBDSensor::setSetting(OpenNI2CameraSetting setting, bool on)
{
    return m_device->hasCameraSettings() && m_device->setCameraSetting(setting, on) &&
           m_device->cameraSetting(setting) == on;
}

bool OpenNI2RGBDSensor::setting(OpenNI2CameraSetting setting)
{
    return m_device->hasCameraSettings() && m_device->cameraSetting(setting);
}

bool OpenNI2RGBDSensor::supportsAutoWhiteBalance() { return supportsSetting(OpenNI2CameraSetting::AutoWhiteBalance); }

bool OpenNI2RGBDSensor::setAutoWhiteBalance(bool on) { return setSetting(OpenNI2CameraSetting::AutoWhiteBalance, on); }

bool OpenNI2RGBDSensor::autoWhiteBalance() { return setting(OpenNI2CameraSetting::AutoWhiteBalance); }

bool OpenNI2RGBDSensor::supportsAutoExposure() { return supportsSetting(OpenNI2CameraSetting::AutoExposure); }

bool OpenNI2RGBDSensor::setAutoExposure(bool on) { return setSetting(OpenNI2CameraSetting::AutoExposure, on); }

bool OpenNI2RGBDSensor::autoExposure() { return setting(OpenNI2CameraSetting::AutoExposure); }

}  // namespace Veltrane
