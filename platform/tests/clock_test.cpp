#include <gtest/gtest.h>

#include "platform/clock.h"

namespace {

TEST(Clock, SleepAdvancesTheClockByAtLeastTheSleep) {
    const uint32_t start = platform::nowMs();
    platform::sleepMs(30);
    const uint32_t elapsed = platform::nowMs() - start;
    EXPECT_GE(elapsed, 29u);  // a 1 ms clock may round the start up
    EXPECT_LT(elapsed, 2000u);
}

TEST(Clock, ReachedComparesAcrossTheWrap) {
    EXPECT_TRUE(platform::reached(10, 10));
    EXPECT_TRUE(platform::reached(11, 10));
    EXPECT_FALSE(platform::reached(9, 10));
    // Deadline just before the 32-bit wrap, now just after it.
    EXPECT_TRUE(platform::reached(5u, 0xFFFFFFF0u));
    EXPECT_FALSE(platform::reached(0xFFFFFFF0u, 5u));
    // Unsigned differences give durations across the wrap.
    EXPECT_EQ(uint32_t{5} - uint32_t{0xFFFFFFF0u}, 21u);
}

}  // namespace
