#pragma once

#include <memory>

namespace Veltrane {

/// Measures wall-clock intervals in milliseconds on a monotonic clock.
///
/// Two states, stopped and running. Time does not accumulate across stops:
/// starting again begins a new measurement.
class Stopwatch {
public:
    /// Starts at once when `startNow` is true; otherwise stopped with 0 ms.
    explicit Stopwatch(bool startNow = true);
    ~Stopwatch();
    Stopwatch(const Stopwatch&) = delete;
    Stopwatch& operator=(const Stopwatch&) = delete;

    bool isRunning() const;

    /// Milliseconds since the start while running (with `restart`, the start
    /// then moves to now, so consecutive calls give lap times); the length of
    /// the last measurement while stopped.
    double elapsed(bool restart = true);

    /// Stops and sets the measurement to zero.
    void reset();
    /// Starts a new measurement; does nothing while running.
    void start();
    /// Ends the measurement; does nothing while stopped.
    void stop();

private:
    struct State;
    std::unique_ptr<State> m_state;
};

}  // namespace Veltrane
