#pragma once

#include "capture/RGBDListener.h"

#include <Eigen/Core>

#include <vector>

namespace Veltrane {

/// A depth camera with an optional colour camera.
///
/// Use: construct, addListener(), initialize(), query the controls, the
/// intrinsics and the frame size, start(); end with stop(), removeListener()
/// and deletion (the destructor closes the device). Frames are pushed to every
/// listener, in registration order, on the sensor's own thread; the listener
/// list must not change while frames are delivered.
class RGBDSensor {
public:
    RGBDSensor() = default;
    RGBDSensor(const RGBDSensor&) = delete;
    RGBDSensor& operator=(const RGBDSensor&) = delete;
    virtual ~RGBDSensor() = default;

    /// Opens the device and its streams.
    virtual bool initialize() = 0;
    virtual bool isInitialized() = 0;
    /// A colour stream is open.
    virtual bool hasColor() = 0;

    /// Camera controls; a sensor without them answers false to all six.
    virtual bool supportsAutoWhiteBalance();
    /// True when the device took the setting.
    virtual bool setAutoWhiteBalance(bool on);
    virtual bool autoWhiteBalance();
    virtual bool supportsAutoExposure();
    virtual bool setAutoExposure(bool on);
    virtual bool autoExposure();

    /// Releases streams and device.
    virtual bool close() = 0;
    /// Starts delivering frames to the listeners.
    virtual bool start() = 0;
    /// Stops delivering frames and waits until the delivery has ended.
    virtual bool stop() = 0;

    /// Camera matrix in pixels of the depth frame: fx, fy on the diagonal,
    /// cx, cy in the third column.
    virtual Eigen::Matrix3d intrinsics() = 0;
    virtual int width() = 0;
    virtual int height() = 0;

    /// Appends `listener` unless it is registered already.
    void addListener(RGBDListener* listener);
    /// Removes `listener`, keeping the order of the others.
    void removeListener(RGBDListener* listener);

protected:
    /// Hands one frame to every listener in order.
    void notifyListeners(const TypedImage<unsigned char>* colour,
                         const TypedImage<unsigned short>* depth);

private:
    std::vector<RGBDListener*> m_listeners;
};

}  // namespace Veltrane
