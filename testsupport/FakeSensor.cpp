#include "testsupport/FakeSensor.h"

namespace Veltrane::TestSupport {

FakeSensor::FakeSensor(std::vector<RgbdFrame> frames, const PinholeCamera& camera)
    : m_frames(std::move(frames)), m_camera(camera)
{
}

FakeSensor::~FakeSensor()
{
    stop();
}

bool FakeSensor::initialize()
{
    m_initialized = true;
    return true;
}

bool FakeSensor::close()
{
    stop();
    m_initialized = false;
    return true;
}

bool FakeSensor::start()
{
    if (!m_initialized || m_thread.joinable())
        return false;
    m_running = true;
    m_thread = std::thread([this] { deliver(); });
    return true;
}

bool FakeSensor::stop()
{
    if (!m_thread.joinable())
        return false;
    m_running = false;
    m_thread.join();
    return true;
}

Eigen::Matrix3d FakeSensor::intrinsics()
{
    const std::array<double, 9> matrix = m_camera.matrix();
    return Eigen::Map<const Eigen::Matrix3d>(matrix.data());
}

void FakeSensor::deliver()
{
    for (const RgbdFrame& frame : m_frames) {
        if (!m_running)
            return;
        notifyListeners(frame.colour.get(), frame.depth.get());
        ++m_delivered;
    }
}

}  // namespace Veltrane::TestSupport
