#include "platform/spin_lock.h"

#include "platform/clock.h"

namespace platform {

bool SpinLock::tryAcquire(int32_t id) noexcept {
    int32_t expected = 0;
    return m_word.compare_exchange_strong(expected, id, std::memory_order_acquire,
                                          std::memory_order_relaxed);
}

SpinLock::Outcome SpinLock::acquire(int32_t id) noexcept {
    Outcome outcome;
    for (int attempt = 1; attempt <= kAttempts; ++attempt) {
        outcome.attempts = attempt;
        int32_t expected = 0;
        if (m_word.compare_exchange_strong(expected, id, std::memory_order_acquire,
                                           std::memory_order_relaxed)) {
            outcome.acquired = true;
            outcome.holder = id;
            return outcome;
        }
        outcome.holder = expected;
        if (attempt < kAttempts) {
            sleepMs(kRetryMs);
        }
    }
    return outcome;
}

bool SpinLock::release(int32_t id) noexcept {
    int32_t expected = id;
    return m_word.compare_exchange_strong(expected, 0, std::memory_order_release,
                                          std::memory_order_relaxed);
}

}  // namespace platform
