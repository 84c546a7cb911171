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
    timespec deadline{};
    (void)clock_gettime(CLOCK_REALTIME, &deadline);
    const long long nanoseconds = deadline.tv_nsec + static_cast<long long>(ms % 1000) * 1000000;
    deadline.tv_sec += ms / 1000 + static_cast<time_t>(nanoseconds / 1000000000);
    deadline.tv_nsec = static_cast<long>(nanoseconds % 1000000000);
    for (;;) {
        if (sem_timedwait(&m_semaphore, &deadline) == 0) {
            return true;
        }
        if (errno != EINTR) {
            return false;
        }
    }
}

}  // namespace platform
