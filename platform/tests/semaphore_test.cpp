#include <gtest/gtest.h>

#include <thread>

#include "platform/clock.h"
#include "platform/semaphore.h"

namespace {

using platform::Semaphore;

// Two threads hand a token back and forth: every release must wake the other side.
// A wake-up lost between a waiter's check and its sleep shows as a timed-out round.
TEST(Semaphore, EveryReleaseWakesTheWaiterAcrossManyHandOffs) {
    constexpr int kRounds = 20000;
    Semaphore ping;
    Semaphore pong;
    int missedByPeer = 0;
    std::thread peer([&] {
        for (int i = 0; i < kRounds; ++i) {
            if (!ping.tryAcquireFor(5000)) {
                ++missedByPeer;
                return;
            }
            pong.release();
        }
    });
    int completed = 0;
    for (; completed < kRounds; ++completed) {
        ping.release();
        if (!pong.tryAcquireFor(5000)) {
            break;
        }
    }
    peer.join();
    EXPECT_EQ(completed, kRounds);
    EXPECT_EQ(missedByPeer, 0);
}

TEST(Semaphore, CountsReleasesAndGivesUpAfterItsTime) {
    Semaphore semaphore;
    semaphore.release();
    semaphore.release();
    semaphore.release();
    semaphore.acquire();
    EXPECT_TRUE(semaphore.tryAcquireFor(0));
    EXPECT_TRUE(semaphore.tryAcquireFor(10));

    const uint32_t start = platform::nowMs();
    EXPECT_FALSE(semaphore.tryAcquireFor(60));
    EXPECT_GE(platform::nowMs() - start, 50u);
}

TEST(Semaphore, AcquireReturnsOnceAnotherThreadReleases) {
    Semaphore semaphore;
    std::thread waiter([&] { semaphore.acquire(); });
    platform::sleepMs(20);
    semaphore.release();
    waiter.join();
    EXPECT_FALSE(semaphore.tryAcquireFor(0));
}

}  // namespace
