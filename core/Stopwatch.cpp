#include "core/Stopwatch.h"

#include <chrono>
#include <cstdint>

namespace Veltrane {

namespace {

std::int64_t nowNanoseconds()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

struct Stopwatch::State {
    std::int64_t start = 0;
    std::int64_t stop = 0;
    bool running = false;
};

Stopwatch::Stopwatch(bool startNow) : m_state(std::make_unique<State>())
{
    reset();
    if (startNow)
        start();
}

Stopwatch::~Stopwatch() = default;

bool Stopwatch::isRunning() const
{
    return m_state->running;
}

double Stopwatch::elapsed(bool restart)
{
    std::int64_t nanoseconds;
    if (m_state->running) {
        const std::int64_t now = nowNanoseconds();
        nanoseconds = now - m_state->start;
        if (restart)
            m_state->start = now;
    } else {
        nanoseconds = m_state->stop - m_state->start;
    }
    return static_cast<double>(nanoseconds) / 1e6;
}

void Stopwatch::reset()
{
    m_state->start = m_state->stop = nowNanoseconds();
    m_state->running = false;
}

void Stopwatch::start()
{
    if (m_state->running)
        return;
    m_state->start = nowNanoseconds();
    m_state->running = true;
}

void Stopwatch::stop()
{
    if (!m_state->running)
        return;
    m_state->stop = nowNanoseconds();
    m_state->running = false;
}

}  // namespace Veltrane
