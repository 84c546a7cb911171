// A counting semaphore whose release is one system call: a thread that must not wait
// or allocate (an audio callback) can wake another with it.
//
// Not std::counting_semaphore: on Windows, libstdc++ 12 has no futex and waits on a
// condition variable after checking the count without holding the notifier off, so a
// release that falls between the check and the wait is lost and the waiter sleeps on.
#pragma once

#if !defined(_WIN32)
#include <semaphore.h>
#endif

namespace platform {

class Semaphore {
  public:
    Semaphore() noexcept;
    ~Semaphore();
    Semaphore(const Semaphore&) = delete;
    Semaphore& operator=(const Semaphore&) = delete;

    // Adds one to the count and wakes a waiter if there is one. Never blocks.
    void release() noexcept;
    // Waits until the count is above zero, then takes one.
    void acquire() noexcept;
    // As acquire, giving up after `ms` milliseconds; true if one was taken.
    [[nodiscard]] bool tryAcquireFor(int ms) noexcept;

  private:
#if defined(_WIN32)
    void* m_handle;
#else
    sem_t m_semaphore;
#endif
};

}  // namespace platform
