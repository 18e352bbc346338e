#pragma once

#include "core/Stopwatch.h"

#include <QString>

#include <atomic>

namespace Veltrane {

/// Frames per second of a stream of frames, from the time between
/// consecutive frames. Once more than `interval` milliseconds of frame time
/// have gathered, a rate is computed from them and the gathering begins
/// anew: the first rate is taken as it is, each later one smoothed as
/// 0.6 x previous + 0.4 x new.
///
/// countFrame() and rate() belong to the one thread that delivers the
/// frames; restart() may be called from any thread and takes effect at that
/// thread's next frame.
class FrameRateMeter {
public:
    explicit FrameRateMeter(double interval) : m_interval(interval) {}

    /// Counts a frame; true when a new rate is available.
    bool countFrame();
    /// Frames per second; negative until the first rate was computed.
    double rate() const { return m_rate; }

    /// Forgets the rate and the time since the last frame, so that the next
    /// rate is taken as it is; frames and time gathered are kept.
    void restart() { m_restartRequested = true; }

private:
    double m_interval;
    Stopwatch m_sinceLastFrame{false};
    int m_frames = 0;
    double m_time = 0.0;
    double m_rate = -1.0;
    std::atomic<bool> m_restartRequested{false};
};

/// A rate as the window shows it: "%1 fps" with one decimal.
QString frameRateText(double rate);

}  // namespace Veltrane
