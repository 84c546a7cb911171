// The bounded spin lock of the session library.
#pragma once

#include <atomic>
#include <cstdint>

namespace platform {

// A 32-bit owner word: 0 when free, otherwise the number of its holder. Taking it is
// one atomic compare-exchange from 0 to the holder's number, tried up to kAttempts
// times with a kRetryMs sleep between tries. Not re-entrant; holder numbers are
// non-zero and chosen by the caller (the lock tables of the session library name them).
//
// Threads: any thread may call any method. Memory order: a successful acquire is an
// acquire operation, release is a release operation, so the holder's writes are seen by
// the next holder.
class SpinLock {
public:
    static constexpr int kAttempts = 20;
    static constexpr uint32_t kRetryMs = 1;

    struct Outcome {
        bool acquired = false;
        int32_t holder = 0;  // on failure: the holder seen at the last attempt
        int attempts = 0;    // attempts made, 1..kAttempts
    };

    SpinLock() = default;
    SpinLock(const SpinLock&) = delete;
    SpinLock& operator=(const SpinLock&) = delete;

    // One attempt. Returns true when `id` now holds the lock.
    [[nodiscard]] bool tryAcquire(int32_t id) noexcept;

    // Up to kAttempts attempts, sleeping kRetryMs between them. On failure the caller
    // does not hold the lock and must not touch what it guards.
    [[nodiscard]] Outcome acquire(int32_t id) noexcept;

    // Frees the lock if `id` holds it; a release by anyone else changes nothing, so a
    // caller that timed out can never clear another holder's lock. Returns whether it
    // released.
    bool release(int32_t id) noexcept;

    // Current holder, 0 when free (a snapshot, for logging and tests).
    int32_t holder() const noexcept { return m_word.load(std::memory_order_relaxed); }

private:
    std::atomic<int32_t> m_word{0};
};

// Holds a SpinLock for a scope when the acquire succeeded.
class SpinGuard {
public:
    SpinGuard(SpinLock& lock, int32_t id) noexcept : m_lock(lock), m_id(id), m_outcome(lock.acquire(id)) {}
    ~SpinGuard() {
        if (m_outcome.acquired) {
            m_lock.release(m_id);
        }
    }
    SpinGuard(const SpinGuard&) = delete;
    SpinGuard& operator=(const SpinGuard&) = delete;

    bool owns() const noexcept { return m_outcome.acquired; }
    explicit operator bool() const noexcept { return owns(); }
    const SpinLock::Outcome& outcome() const noexcept { return m_outcome; }

private:
    SpinLock& m_lock;
    int32_t m_id;
    SpinLock::Outcome m_outcome;
};

}  // namespace platform
