#include "platform/clock.h"

#include <windows.h>
#include <mmsystem.h>

namespace platform {

uint32_t nowMs() noexcept {
    return static_cast<uint32_t>(timeGetTime());
}

void sleepMs(uint32_t ms) noexcept {
    Sleep(ms);
}

FineSleepScope::FineSleepScope() noexcept : m_active(timeBeginPeriod(1) == TIMERR_NOERROR) {}

FineSleepScope::~FineSleepScope() {
    if (m_active) {
        timeEndPeriod(1);
    }
}

uint64_t processCpuMicroseconds() noexcept {
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) {
        return 0;
    }
    const auto ticks = [](const FILETIME& t) {
        return (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    };
    return (ticks(kernel) + ticks(user)) / 10u;  // 100-ns units
}

bool localTime(std::time_t time, std::tm& out) noexcept {
    return localtime_s(&out, &time) == 0;
}

}  // namespace platform
