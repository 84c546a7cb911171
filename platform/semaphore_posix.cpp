#include <cerrno>
#include <ctime>

#include "platform/semaphore.h"

namespace platform {

Semaphore::Semaphore() noexcept {
    // Cannot fail for a count of zero in a process-private semaphore.
    (void)sem_init(&m_semaphore, 0, 0);
}

Semaphore::~Semaphore() {
    (void)sem_destroy(&m_semaphore);
}

void Semaphore::release() noexcept {
    (void)sem_post(&m_semaphore);
}

void Semaphore::acquire() noexcept {
    while (sem_wait(&m_semaphore) != 0 && errno == EINTR) {
    }
}

bool Semaphore::tryAcquireFor(int ms) noexcept {
    // The deadline is on the monotonic clock: one on the wall clock would last as long
    // as a step back of that clock (a time sync, a resume from sleep), and the waiting
    // poll loop would stop sending for all that time.
    timespec deadline{};
    (void)clock_gettime(CLOCK_MONOTONIC, &deadline);
    const long long nanoseconds = deadline.tv_nsec + static_cast<long long>(ms % 1000) * 1000000;
    deadline.tv_sec += ms / 1000 + static_cast<time_t>(nanoseconds / 1000000000);
    deadline.tv_nsec = static_cast<long>(nanoseconds % 1000000000);
    for (;;) {
        if (sem_clockwait(&m_semaphore, CLOCK_MONOTONIC, &deadline) == 0) {
            return true;
        }
        if (errno != EINTR) {
            return false;
        }
    }
}

}  // namespace platform
