#include <windows.h>

#include <climits>

#include "platform/semaphore.h"

namespace platform {

Semaphore::Semaphore() noexcept : m_handle(CreateSemaphoreW(nullptr, 0, LONG_MAX, nullptr)) {}

Semaphore::~Semaphore() {
    if (m_handle != nullptr) {
        CloseHandle(m_handle);
    }
}

void Semaphore::release() noexcept {
    (void)ReleaseSemaphore(m_handle, 1, nullptr);
}

void Semaphore::acquire() noexcept {
    (void)WaitForSingleObject(m_handle, INFINITE);
}

// The timeout is relative and counted on the system's interrupt clock, which a change
// of the wall clock does not move.
bool Semaphore::tryAcquireFor(int ms) noexcept {
    return WaitForSingleObject(m_handle, ms < 0 ? 0 : static_cast<DWORD>(ms)) == WAIT_OBJECT_0;
}

}  // namespace platform
