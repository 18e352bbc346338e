#include "platform/PhysicalMemory.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

namespace Veltrane {
namespace {

TEST(PhysicalMemory, MatchesTheKernelsMemoryTotal)
{
    std::ifstream meminfo("/proc/meminfo");
    std::string key;
    std::uint64_t kibibytes = 0;
    while (meminfo >> key && key != "MemTotal:")
        meminfo.ignore(256, '\n');
    ASSERT_TRUE(meminfo >> kibibytes);
    // The kernel keeps a little memory for itself out of the total.
    EXPECT_GE(physicalMemoryBytes(), kibibytes * 1024);
    EXPECT_LT(physicalMemoryBytes(), kibibytes * 1024 * 11 / 10);
}

}  // namespace
}  // namespace Veltrane
