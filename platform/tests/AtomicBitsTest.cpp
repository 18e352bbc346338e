#include "platform/AtomicBits.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace Veltrane {
namespace {

TEST(AtomicBits, ConcurrentOrsKeepEveryBit)
{
    for (int round = 0; round < 20; ++round) {
        int32_t flags = 0;
        std::vector<std::thread> threads;
        for (int bit = 0; bit < 31; ++bit)
            threads.emplace_back([&flags, bit] {
                for (int repeat = 0; repeat < 100; ++repeat)
                    atomicOr(flags, int32_t(1) << bit);
            });
        for (std::thread& thread : threads)
            thread.join();
        ASSERT_EQ(flags, 0x7fffffff);
    }
}

TEST(AtomicBits, ReturnsThePreviousValue)
{
    int32_t flags = 0x10;
    EXPECT_EQ(atomicOr(flags, 0x3), 0x10);
    EXPECT_EQ(flags, 0x13);
    EXPECT_EQ(atomicOr(flags, int32_t(0x80000000u)), 0x13);
    EXPECT_LT(flags, 0);
}

}  // namespace
}  // namespace Veltrane
