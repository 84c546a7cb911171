#include "platform/tick_extender.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

constexpr uint64_t kWrap = uint64_t{1} << 32;

TEST(TickExtender, CountsOnAcrossWraps) {
    platform::TickExtender ticks;
    // Near the wrap from the first reading on (a machine up for 49 days).
    EXPECT_EQ(ticks.extend(0xFFFFFF00u), 0xFFFFFF00u);
    EXPECT_EQ(ticks.extend(0xFFFFFFFFu), 0xFFFFFFFFu);
    EXPECT_EQ(ticks.extend(5), kWrap + 5);
    EXPECT_EQ(ticks.extend(0x7FFFFFFFu), kWrap + 0x7FFFFFFFu);
    EXPECT_EQ(ticks.extend(0xF0000000u), kWrap + 0xF0000000u);
    EXPECT_EQ(ticks.extend(3), 2 * kWrap + 3);
}

TEST(TickExtender, StaleReadingIsNoWrap) {
    platform::TickExtender ticks;
    EXPECT_EQ(ticks.extend(1000), 1000u);
    // Another thread read 990 before this one's 1000 was recorded.
    EXPECT_EQ(ticks.extend(990), 990u);
    EXPECT_EQ(ticks.extend(1010), 1010u);
    // A stale reading from just before a wrap, seen after it.
    EXPECT_EQ(ticks.extend(0x7FFFFFFFu), 0x7FFFFFFFu);
    EXPECT_EQ(ticks.extend(0xFFFFFFF0u), 0xFFFFFFF0u);
    EXPECT_EQ(ticks.extend(4), kWrap + 4);
    EXPECT_EQ(ticks.extend(0xFFFFFFFAu), 0xFFFFFFFAu);
    EXPECT_EQ(ticks.extend(8), kWrap + 8);
}

TEST(TickExtender, ThreadsCrossingTheWrapCountItOnce) {
    platform::TickExtender ticks;
    constexpr uint32_t kStart = 0xFFFF0000u;
    constexpr int kSteps = 0x20000;  // each thread walks from kStart across the wrap
    std::vector<std::thread> threads;
    std::vector<uint64_t> last(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            uint64_t previous = 0;
            for (int i = 0; i < kSteps; ++i) {
                const uint64_t v = ticks.extend(kStart + static_cast<uint32_t>(i));
                ASSERT_GE(v, previous) << "step " << i;
                ASSERT_EQ(static_cast<uint32_t>(v), kStart + static_cast<uint32_t>(i));
                previous = v;
            }
            last[t] = previous;
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    for (uint64_t v : last) {
        EXPECT_EQ(v, uint64_t{kStart} + kSteps - 1);
    }
}

}  // namespace
