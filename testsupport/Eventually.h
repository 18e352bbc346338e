#pragma once

#include <chrono>
#include <thread>

namespace Veltrane {

/// How long a test waits for another thread before it gives up.
constexpr std::chrono::seconds Patience{10};

/// Polls `condition` every millisecond; false when the patience ran out.
template <typename Condition>
bool eventually(Condition condition)
{
    const auto deadline = std::chrono::steady_clock::now() + Patience;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

}  // namespace Veltrane
