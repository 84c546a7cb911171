#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/spin_lock.h"

namespace {

using platform::SpinLock;

TEST(SpinLock, SecondHolderTimesOutAfterTwentyTriesAndSeesTheHolder) {
    SpinLock lock;
    ASSERT_TRUE(lock.acquire(4).acquired);

    const uint32_t start = platform::nowMs();
    const SpinLock::Outcome second = lock.acquire(8);
    const uint32_t waited = platform::nowMs() - start;

    EXPECT_FALSE(second.acquired);
    EXPECT_EQ(second.attempts, SpinLock::kAttempts);
    EXPECT_EQ(second.holder, 4);
    // 19 sleeps of 1 ms between 20 attempts: the caller really waited.
    EXPECT_GE(waited, 19u);
    EXPECT_EQ(lock.holder(), 4);
}

TEST(SpinLock, ReleaseByAnotherIdNeverClearsTheHoldersLock) {
    SpinLock lock;
    ASSERT_TRUE(lock.tryAcquire(2));
    EXPECT_FALSE(lock.release(3));  // a timed-out caller releasing "its" lock
    EXPECT_EQ(lock.holder(), 2);
    EXPECT_FALSE(lock.tryAcquire(3));
    EXPECT_TRUE(lock.release(2));
    EXPECT_EQ(lock.holder(), 0);
    EXPECT_TRUE(lock.tryAcquire(3));
}

TEST(SpinLock, WaiterGetsTheLockWhenTheHolderLetsGoWithinTheTries) {
    SpinLock lock;
    ASSERT_TRUE(lock.tryAcquire(1));
    std::atomic<bool> started{false};
    SpinLock::Outcome waiter;
    std::thread t([&] {
        started = true;
        waiter = lock.acquire(2);
    });
    while (!started) {
        std::this_thread::yield();
    }
    platform::sleepMs(5);
    EXPECT_TRUE(lock.release(1));
    t.join();
    EXPECT_TRUE(waiter.acquired);
    EXPECT_GT(waiter.attempts, 1);
    EXPECT_EQ(lock.holder(), 2);
}

TEST(SpinLock, GuardReleasesOnlyWhatItTook) {
    SpinLock lock;
    {
        platform::SpinGuard guard(lock, 5);
        EXPECT_TRUE(guard.owns());
        {
            platform::SpinGuard other(lock, 6);
            EXPECT_FALSE(other.owns());
            EXPECT_EQ(other.outcome().holder, 5);
        }
        EXPECT_EQ(lock.holder(), 5);  // the failed guard left the holder alone
    }
    EXPECT_EQ(lock.holder(), 0);
}

TEST(SpinLock, SerialisesThreadsThatRetryUntilTheyGetIt) {
    SpinLock lock;
    int counter = 0;  // guarded by lock; ThreadSanitizer checks the happens-before
    constexpr int kThreads = 4;
    constexpr int kIncrements = 2000;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, id = t + 1] {
            for (int i = 0; i < kIncrements; ++i) {
                while (!lock.tryAcquire(id)) {
                    std::this_thread::yield();
                }
                ++counter;
                ASSERT_TRUE(lock.release(id));
            }
        });
    }
    for (auto& th : threads) {
        th.join();
    }
    EXPECT_EQ(counter, kThreads * kIncrements);
}

}  // namespace
