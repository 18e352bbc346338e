#include "capture/HelperThread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace Veltrane {
namespace {

TEST(HelperThread, RunsEveryTaskOnOneThreadOfItsOwn)
{
    HelperThread helper;
    std::vector<std::thread::id> threads;
    std::vector<int> results;
    for (int i = 0; i < 3; ++i) {
        int result = 0;
        std::thread::id thread;
        helper.start([&, i] {
            thread = std::this_thread::get_id();
            result = 10 * i;
        });
        helper.wait();
        threads.push_back(thread);
        results.push_back(result);
    }
    EXPECT_EQ(results, (std::vector<int>{0, 10, 20}));
    EXPECT_NE(threads[0], std::this_thread::get_id());
    EXPECT_EQ(threads[1], threads[0]);
    EXPECT_EQ(threads[2], threads[0]);
}

TEST(HelperThread, EndsOnlyAfterItsLastTask)
{
    std::atomic<bool> done{false};
    {
        HelperThread helper;
        helper.start([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            done = true;
        });
    }
    EXPECT_TRUE(done);
    HelperThread unused;  // never started: nothing to end
}

}  // namespace
}  // namespace Veltrane
