// A timed wait against a wall clock that steps. The program sees CLOCK_REALTIME 30 s
// ahead of the kernel's while the wait starts, which is what a waiter meets when the
// wall clock steps back 30 s (a time sync, a resume) between reading it and waiting:
// a deadline taken from the wall clock then lies 30 s further away than meant.
#include <gtest/gtest.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <ctime>

#include "platform/semaphore.h"

namespace {

std::atomic<long> g_wallClockAhead{0};

}  // namespace

// Every clock_gettime of this program, the library code linked into it included.
extern "C" int clock_gettime(clockid_t clock, struct timespec* now) noexcept {
    const long rc = syscall(SYS_clock_gettime, clock, now);
    if (rc == 0 && clock == CLOCK_REALTIME) {
        now->tv_sec += g_wallClockAhead.load();
    }
    return static_cast<int>(rc);
}

namespace {

TEST(SemaphoreClock, ATimedWaitLastsItsTimeWhenTheWallClockStepsBack) {
    platform::Semaphore semaphore;
    const auto start = std::chrono::steady_clock::now();
    g_wallClockAhead.store(30);
    const bool acquired = semaphore.tryAcquireFor(50);
    g_wallClockAhead.store(0);
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_FALSE(acquired);
    EXPECT_LT(waited, std::chrono::seconds(5)) << "the wait followed the wall clock";
    EXPECT_GE(waited, std::chrono::milliseconds(45));

    // A release still ends the wait at once.
    semaphore.release();
    g_wallClockAhead.store(30);
    EXPECT_TRUE(semaphore.tryAcquireFor(10000));
    g_wallClockAhead.store(0);
}

}  // namespace
