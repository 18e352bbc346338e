#include "capture/RGBDSensor.h"

#include <algorithm>

namespace Veltrane {

bool RGBDSensor::supportsAutoWhiteBalance() { return false; }
bool RGBDSensor::setAutoWhiteBalance(bool) { return false; }
bool RGBDSensor::autoWhiteBalance() { return false; }
bool RGBDSensor::supportsAutoExposure() { return false; }
bool RGBDSensor::setAutoExposure(bool) { return false; }
bool RGBDSensor::autoExposure() { return false; }

void RGBDSensor::addListener(RGBDListener* listener)
{
    if (listener && std::find(m_listeners.begin(), m_listeners.end(), listener) == m_listeners.end())
        m_listeners.push_back(listener);
}

void RGBDSensor::removeListener(RGBDListener* listener)
{
    const auto found = std::find(m_listeners.begin(), m_listeners.end(), listener);
    if (found != m_listeners.end())
        m_listeners.erase(found);
}

void RGBDSensor::notifyListeners(const TypedImage<unsigned char>* colour,
                                 const TypedImage<unsigned short>* depth)
{
    for (RGBDListener* listener : m_listeners)
        listener->onNewFrame(colour, depth, nullptr);
}

}  // namespace Veltrane
