#pragma once

#include "capture/OpenNI2Device.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <vector>

namespace Veltrane {

/// A scripted depth camera. Every call succeeds unless the test names it in
/// `failing`; frames come from the turns the test queues, one turn per wait.
/// With no turn queued a wait times out after a millisecond.
class FakeOpenNI2Device : public OpenNI2Device {
public:
    enum class Call {
        InitializeLibrary, Open, CreateDepth, CreateColor, SetDepthMode, SetColorMode,
        ReadDepthMode, ReadColorMode, StartDepth, StartColor, Registration, WorldToDepth,
        SetCameraSetting
    };

    /// A frame as the device hands it out: a header and the bytes behind it.
    struct Frame {
        OpenNI2Frame header;
        std::vector<std::uint8_t> bytes;
    };

    /// What one wait yields: whether it reports a frame, and what the reads
    /// that follow return (nothing when empty).
    struct Turn {
        bool ready = true;
        std::optional<Frame> depth;
        std::optional<Frame> color;
    };

    static constexpr int Width = 640;
    static constexpr int Height = 480;

    /// Pinhole camera of the fake depth stream.
    static constexpr float Fx = 571.5f, Fy = 568.0f, Cx = 318.5f, Cy = 242.0f;

    /// Depth value at (x, y) of frame number `frame`.
    static std::uint16_t depthValue(int x, int y, int frame) { return std::uint16_t(x + 3 * y + 101 * frame); }
    static std::uint8_t colorValue(int x, int y, int c, int frame)
    {
        return std::uint8_t(x + 5 * y + 7 * c + 13 * frame);
    }

    static Frame depthFrame(int frame, int width = Width, int height = Height)
    {
        Frame f;
        f.bytes.resize(std::size_t(width) * height * 2);
        auto* values = reinterpret_cast<std::uint16_t*>(f.bytes.data());
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                values[std::size_t(y) * width + x] = depthValue(x, y, frame);
        f.header = {nullptr, int(f.bytes.size()), width, height, width * 2, OpenNI2PixelFormat::Depth1mm};
        return f;
    }

    static Frame colorFrame(int frame, int width = Width, int height = Height)
    {
        Frame f;
        f.bytes.resize(std::size_t(width) * height * 3);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                for (int c = 0; c < 3; ++c)
                    f.bytes[(std::size_t(y) * width + x) * 3 + c] = colorValue(x, y, c, frame);
        f.header = {nullptr, int(f.bytes.size()), width, height, width * 3, OpenNI2PixelFormat::Rgb888};
        return f;
    }

    /// A ready turn with frame number `frame` on depth and, with `withColor`, colour.
    static Turn frameTurn(int frame, bool withColor = true)
    {
        Turn turn;
        turn.depth = depthFrame(frame);
        if (withColor)
            turn.color = colorFrame(frame);
        return turn;
    }

    // --- Script and observations; guard with `lock()` while capturing. ---
    std::unique_lock<std::mutex> lock() { return std::unique_lock<std::mutex>(m_mutex); }

    std::set<Call> failing;
    std::string vendor = "Fake Vendor";
    std::string name = "Fake Name";
    std::vector<OpenNI2VideoMode> depthModes{{OpenNI2PixelFormat::Depth1mm, Width, Height, 30}};
    std::vector<OpenNI2VideoMode> colorModes{{OpenNI2PixelFormat::Rgb888, Width, Height, 30}};
    bool offersCameraSettings = true;
    /// The colour camera accepts writes but keeps its values.
    bool ignoresCameraSettings = false;
    bool settings[2] = {false, true};
    int settingWrites = 0;
    std::deque<Turn> turns;

    int libraryInitializations = 0;
    int libraryShutdowns = 0;
    bool deviceOpen = false;
    bool streamOpen[2] = {false, false};
    bool streamStarted[2] = {false, false};
    std::optional<OpenNI2VideoMode> modeSet[2];
    std::optional<bool> mirroringSet[2];
    bool depthColorSync = false;
    bool registration = false;
    std::vector<std::pair<bool, int>> waits;  ///< (with colour, time-out) of every wait
    int framesReleased = 0;

    std::function<void(FakeOpenNI2Device&)> onDestroyed;

    ~FakeOpenNI2Device() override
    {
        if (onDestroyed)
            onDestroyed(*this);
    }

    static std::string errorOf(Call call) { return "fake error " + std::to_string(int(call)); }

    bool initializeLibrary() override
    {
        if (!succeeds(Call::InitializeLibrary))
            return false;
        ++libraryInitializations;
        return true;
    }
    void shutdownLibrary() override { ++libraryShutdowns; }
    std::string extendedError() override
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        return m_error;
    }

    bool open(std::string& vendorOut, std::string& nameOut) override
    {
        if (!succeeds(Call::Open))
            return false;
        deviceOpen = true;
        vendorOut = vendor;
        nameOut = name;
        return true;
    }
    void close() override { deviceOpen = false; }

    bool createStream(OpenNI2Stream stream) override
    {
        if (!succeeds(pick(stream, Call::CreateDepth, Call::CreateColor)))
            return false;
        streamOpen[index(stream)] = true;
        return true;
    }
    void destroyStream(OpenNI2Stream stream) override
    {
        streamOpen[index(stream)] = false;
        streamStarted[index(stream)] = false;
    }
    bool isStreamOpen(OpenNI2Stream stream) override
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        return streamOpen[index(stream)];
    }
    std::vector<OpenNI2VideoMode> supportedVideoModes(OpenNI2Stream stream) override
    {
        return stream == OpenNI2Stream::Depth ? depthModes : colorModes;
    }
    bool setVideoMode(OpenNI2Stream stream, const OpenNI2VideoMode& mode) override
    {
        if (!succeeds(pick(stream, Call::SetDepthMode, Call::SetColorMode)))
            return false;
        modeSet[index(stream)] = mode;
        return true;
    }
    bool videoMode(OpenNI2Stream stream, OpenNI2VideoMode& mode) override
    {
        if (!succeeds(pick(stream, Call::ReadDepthMode, Call::ReadColorMode)) || !modeSet[index(stream)])
            return false;
        mode = *modeSet[index(stream)];
        return true;
    }
    bool setMirroring(OpenNI2Stream stream, bool on) override
    {
        mirroringSet[index(stream)] = on;
        return true;
    }
    bool startStream(OpenNI2Stream stream) override
    {
        if (!succeeds(pick(stream, Call::StartDepth, Call::StartColor)))
            return false;
        streamStarted[index(stream)] = true;
        return true;
    }

    bool enableDepthColorSync() override
    {
        depthColorSync = true;
        return true;
    }
    bool enableDepthToColorRegistration() override
    {
        if (!succeeds(Call::Registration))
            return false;
        registration = true;
        return true;
    }
    bool worldToDepth(float x, float y, float z, float& u, float& v) override
    {
        if (!succeeds(Call::WorldToDepth))
            return false;
        u = Fx * x / z + Cx;
        v = Cy - Fy * y / z;
        return true;
    }

    bool hasCameraSettings() override
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        return offersCameraSettings && streamOpen[index(OpenNI2Stream::Color)];
    }
    bool setCameraSetting(OpenNI2CameraSetting setting, bool on) override
    {
        if (!succeeds(Call::SetCameraSetting))
            return false;
        std::lock_guard<std::mutex> guard(m_mutex);
        ++settingWrites;
        if (!ignoresCameraSettings)
            settings[int(setting)] = on;
        return true;
    }
    bool cameraSetting(OpenNI2CameraSetting setting) override
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        return settings[int(setting)];
    }

    bool waitForAnyStream(bool withColor, int timeoutMs) override
    {
        {
            std::lock_guard<std::mutex> guard(m_mutex);
            waits.emplace_back(withColor, timeoutMs);
            if (!turns.empty()) {
                m_turn = std::move(turns.front());
                turns.pop_front();
                m_error = m_turn.ready ? "" : "fake wait timed out";
                return m_turn.ready;
            }
            m_turn = Turn{};
            m_error = "fake wait timed out";
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return false;
    }
    bool readFrame(OpenNI2Stream stream, OpenNI2Frame& frame) override
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        std::optional<Frame>& held = stream == OpenNI2Stream::Depth ? m_turn.depth : m_turn.color;
        if (!held) {
            m_error = std::string("fake ") + (stream == OpenNI2Stream::Depth ? "depth" : "color") + " read failed";
            return false;
        }
        frame = held->header;
        if (!frame.data)
            frame.data = held->bytes.data();
        return true;
    }
    void releaseFrames() override
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        ++framesReleased;
    }

private:
    static int index(OpenNI2Stream stream) { return stream == OpenNI2Stream::Depth ? 0 : 1; }
    static Call pick(OpenNI2Stream stream, Call depth, Call color)
    {
        return stream == OpenNI2Stream::Depth ? depth : color;
    }
    bool succeeds(Call call)
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        if (!failing.count(call))
            return true;
        m_error = errorOf(call);
        return false;
    }

    std::mutex m_mutex;
    std::string m_error;
    Turn m_turn;
};

}  // namespace Veltrane
