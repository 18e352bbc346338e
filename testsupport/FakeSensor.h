#pragma once

#include "capture/RGBDSensor.h"
#include "testsupport/SyntheticCamera.h"

#include <atomic>
#include <thread>
#include <vector>

namespace Veltrane::TestSupport {

/// A camera that hands a fixed list of frames to its listeners, each once,
/// in order and as fast as they take them, on a thread of its own that
/// start() begins; then it stays quiet until stopped. It has colour and no
/// automatic camera controls.
class FakeSensor : public RGBDSensor {
public:
    FakeSensor(std::vector<RgbdFrame> frames, const PinholeCamera& camera);
    ~FakeSensor() override;

    bool initialize() override;
    bool isInitialized() override { return m_initialized; }
    bool hasColor() override { return true; }
    bool close() override;
    /// False when not initialised or already delivering.
    bool start() override;
    /// False when not delivering.
    bool stop() override;
    Eigen::Matrix3d intrinsics() override;
    int width() override { return m_camera.width; }
    int height() override { return m_camera.height; }

    /// Frames handed to the listeners so far.
    int delivered() const { return m_delivered; }

private:
    void deliver();

    std::vector<RgbdFrame> m_frames;
    PinholeCamera m_camera;
    bool m_initialized = false;
    std::thread m_thread;
    std::atomic<bool> m_running{false};
    std::atomic<int> m_delivered{0};
};

}  // namespace Veltrane::TestSupport
