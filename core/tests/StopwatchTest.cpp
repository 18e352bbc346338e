#include "core/Stopwatch.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace Veltrane {
namespace {

void pause(int milliseconds)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

TEST(Stopwatch, NeverStartedReadsZero)
{
    Stopwatch watch(false);
    pause(2);
    EXPECT_FALSE(watch.isRunning());
    EXPECT_EQ(watch.elapsed(true), 0.0);
}

TEST(Stopwatch, SecondStartAndSecondStopChangeNothing)
{
    Stopwatch watch(true);
    pause(20);
    watch.start();  // must not move the start
    watch.stop();
    const double first = watch.elapsed(true);
    EXPECT_GE(first, 20.0);
    pause(10);
    watch.stop();  // must not move the stop
    EXPECT_EQ(watch.elapsed(true), first);
    EXPECT_EQ(watch.elapsed(false), first);  // restart has no effect while stopped
}

TEST(Stopwatch, StartingAgainBeginsANewMeasurement)
{
    using Clock = std::chrono::steady_clock;
    Stopwatch watch(true);
    pause(30);
    watch.stop();
    const Clock::time_point before = Clock::now();
    watch.start();
    pause(5);
    watch.stop();
    const double around = std::chrono::duration<double, std::milli>(Clock::now() - before).count();
    const double second = watch.elapsed(true);
    // However long the pauses take on a busy machine, the second measurement
    // lies within the time taken around it: the first 30 ms are not in it.
    EXPECT_GE(second, 5.0);
    EXPECT_LE(second, around);
}

TEST(Stopwatch, LapsAddUpToTheWholeInterval)
{
    Stopwatch whole(true);
    Stopwatch laps(true);
    pause(5);
    const double lap1 = laps.elapsed(true);
    pause(5);
    const double lap2 = laps.elapsed(true);
    const double total = whole.elapsed(false);
    EXPECT_GE(lap1, 5.0);
    EXPECT_GE(lap2, 5.0);
    EXPECT_LE(lap1 + lap2, total);
    EXPECT_TRUE(laps.isRunning());

    laps.reset();
    EXPECT_FALSE(laps.isRunning());
    EXPECT_EQ(laps.elapsed(true), 0.0);
}

}  // namespace
}  // namespace Veltrane
