#include "capture/OpenNI2Streams.h"

namespace Veltrane {

static_assert(OpenNI2PixelFormat::Depth1mm == openni::PIXEL_FORMAT_DEPTH_1_MM);
static_assert(OpenNI2PixelFormat::Rgb888 == openni::PIXEL_FORMAT_RGB888);

namespace {

openni::SensorType sensorType(OpenNI2Stream stream)
{
    return stream == OpenNI2Stream::Depth ? openni::SENSOR_DEPTH : openni::SENSOR_COLOR;
}

OpenNI2VideoMode toMode(const OniVideoMode& mode)
{
    return {static_cast<int>(mode.pixelFormat), mode.resolutionX, mode.resolutionY, mode.fps};
}

}  // namespace

bool OpenNI2Streams::initializeLibrary() { return openni::OpenNI::initialize() == openni::STATUS_OK; }

void OpenNI2Streams::shutdownLibrary() { openni::OpenNI::shutdown(); }

std::string OpenNI2Streams::extendedError() { return openni::OpenNI::getExtendedError(); }

bool OpenNI2Streams::open(std::string& vendor, std::string& name)
{
    if (m_device.open(openni::ANY_DEVICE) != openni::STATUS_OK)
        return false;
    const openni::DeviceInfo& info = m_device.getDeviceInfo();
    vendor = info.getVendor();
    name = info.getName();
    return true;
}

void OpenNI2Streams::close() { m_device.close(); }

openni::VideoStream& OpenNI2Streams::videoStream(OpenNI2Stream stream)
{
    return stream == OpenNI2Stream::Depth ? m_depth : m_color;
}

bool OpenNI2Streams::createStream(OpenNI2Stream stream)
{
    return videoStream(stream).create(m_device, sensorType(stream)) == openni::STATUS_OK;
}

OniFrame*& OpenNI2Streams::heldFrame(OpenNI2Stream stream)
{
    return stream == OpenNI2Stream::Depth ? m_depthFrame : m_colorFrame;
}

void OpenNI2Streams::releaseFrame(OpenNI2Stream stream)
{
    OniFrame*& held = heldFrame(stream);
    if (held)
        oniFrameRelease(held);
    held = nullptr;
}

void OpenNI2Streams::destroyStream(OpenNI2Stream stream)
{
    releaseFrame(stream);
    videoStream(stream).destroy();
}

bool OpenNI2Streams::isStreamOpen(OpenNI2Stream stream) { return videoStream(stream).isValid(); }

std::vector<OpenNI2VideoMode> OpenNI2Streams::supportedVideoModes(OpenNI2Stream stream)
{
    std::vector<OpenNI2VideoMode> modes;
    if (!isStreamOpen(stream))
        return modes;
    const openni::Array<openni::VideoMode>& list = videoStream(stream).getSensorInfo().getSupportedVideoModes();
    for (int i = 0; i < list.getSize(); ++i)
        modes.push_back({list[i].getPixelFormat(), list[i].getResolutionX(), list[i].getResolutionY(),
                         list[i].getFps()});
    return modes;
}

bool OpenNI2Streams::setVideoMode(OpenNI2Stream stream, const OpenNI2VideoMode& mode)
{
    openni::VideoMode requested;
    requested.setPixelFormat(static_cast<openni::PixelFormat>(mode.pixelFormat));
    requested.setResolution(mode.width, mode.height);
    requested.setFps(mode.fps);
    return videoStream(stream).setVideoMode(requested) == openni::STATUS_OK;
}

bool OpenNI2Streams::videoMode(OpenNI2Stream stream, OpenNI2VideoMode& mode)
{
    OniVideoMode current{};
    if (videoStream(stream).getProperty(openni::STREAM_PROPERTY_VIDEO_MODE, &current) != openni::STATUS_OK)
        return false;
    mode = toMode(current);
    return true;
}

bool OpenNI2Streams::setMirroring(OpenNI2Stream stream, bool on)
{
    return videoStream(stream).setMirroringEnabled(on) == openni::STATUS_OK;
}

bool OpenNI2Streams::startStream(OpenNI2Stream stream)
{
    return videoStream(stream).start() == openni::STATUS_OK;
}

bool OpenNI2Streams::enableDepthColorSync()
{
    return m_device.setDepthColorSyncEnabled(true) == openni::STATUS_OK;
}

bool OpenNI2Streams::enableDepthToColorRegistration()
{
    return m_device.setImageRegistrationMode(openni::IMAGE_REGISTRATION_DEPTH_TO_COLOR) == openni::STATUS_OK;
}

bool OpenNI2Streams::worldToDepth(float x, float y, float z, float& u, float& v)
{
    float depth = 0.0f;
    return openni::CoordinateConverter::convertWorldToDepth(m_depth, x, y, z, &u, &v, &depth) ==
           openni::STATUS_OK;
}

openni::CameraSettings* OpenNI2Streams::colorSettings()
{
    return m_color.isValid() ? m_color.getCameraSettings() : nullptr;
}

bool OpenNI2Streams::hasCameraSettings() { return colorSettings() != nullptr; }

bool OpenNI2Streams::setCameraSetting(OpenNI2CameraSetting setting, bool on)
{
    openni::CameraSettings* settings = colorSettings();
    if (!settings)
        return false;
    const openni::Status status = setting == OpenNI2CameraSetting::AutoWhiteBalance
                                      ? settings->setAutoWhiteBalanceEnabled(on)
                                      : settings->setAutoExposureEnabled(on);
    return status == openni::STATUS_OK;
}

bool OpenNI2Streams::cameraSetting(OpenNI2CameraSetting setting)
{
    openni::CameraSettings* settings = colorSettings();
    if (!settings)
        return false;
    return setting == OpenNI2CameraSetting::AutoWhiteBalance ? settings->getAutoWhiteBalanceEnabled()
                                                             : settings->getAutoExposureEnabled();
}

bool OpenNI2Streams::waitForAnyStream(bool withColor, int timeoutMs)
{
    openni::VideoStream* streams[] = {&m_depth, &m_color};
    int ready = -1;
    return openni::OpenNI::waitForAnyStream(streams, withColor ? 2 : 1, &ready, timeoutMs) ==
           openni::STATUS_OK;
}

bool OpenNI2Streams::readFrame(OpenNI2Stream stream, OpenNI2Frame& frame)
{
    releaseFrame(stream);
    if (!isStreamOpen(stream))
        return false;
    // The status is not needed: a frame that came back is what counts.
    OniFrame*& held = heldFrame(stream);
    oniStreamReadFrame(videoStream(stream)._getHandle(), &held);
    if (!held)
        return false;
    frame.data = held->data;
    frame.dataSize = held->dataSize;
    frame.width = held->width;
    frame.height = held->height;
    frame.stride = held->stride;
    frame.pixelFormat = static_cast<int>(held->videoMode.pixelFormat);
    return true;
}

void OpenNI2Streams::releaseFrames()
{
    releaseFrame(OpenNI2Stream::Depth);
    releaseFrame(OpenNI2Stream::Color);
}

}  // namespace Veltrane
