// Sanitizer builds: the leak check runs once every test has run, after the
// helper threads of OpenMP, OpenCL and the GL driver have stopped coming and
// going, instead of at exit, while they are being torn down: the leak
// checker's tracer can crash on a thread that is half gone (a worker thread's
// OpenMP team, for instance, ends just after the worker). Linked into every
// test program of a sanitizer build; the check at exit is then skipped. A
// program whose tests asked for no leak check (skipLeakCheck) has none.
#include "testsupport/LeakCheck.h"

#include <gtest/gtest.h>
#include <sanitizer/lsan_interface.h>

#include <chrono>
#include <filesystem>
#include <iterator>
#include <thread>

namespace {

/// The threads of this process.
long threadCount()
{
    std::error_code error;
    const std::filesystem::directory_iterator tasks("/proc/self/task", error);
    return error ? -1 : std::distance(tasks, std::filesystem::directory_iterator());
}

/// Waits until the number of threads has stayed the same for 200 ms, at
/// most three seconds.
void waitForThreadsToSettle()
{
    using namespace std::chrono;
    const auto deadline = steady_clock::now() + seconds(3);
    long last = threadCount();
    auto stableSince = steady_clock::now();
    while (steady_clock::now() < deadline && steady_clock::now() - stableSince < milliseconds(200)) {
        std::this_thread::sleep_for(milliseconds(10));
        const long now = threadCount();
        if (now != last) {
            last = now;
            stableSince = steady_clock::now();
        }
    }
}

class LeakCheckAfterTests : public ::testing::Environment {
public:
    void TearDown() override
    {
        if (Veltrane::TestSupport::leakCheckSkipped())
            return;
        waitForThreadsToSettle();
        __lsan_do_leak_check();
    }
};

}  // namespace

// Read by the leak checker before any check, the one at exit included.
extern "C" int __lsan_is_turned_off()
{
    return Veltrane::TestSupport::leakCheckSkipped() ? 1 : 0;
}

namespace {

// gtest owns the environment.
::testing::Environment* const leakCheck = ::testing::AddGlobalTestEnvironment(new LeakCheckAfterTests);

}  // namespace
