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

bool localTime(std::time_t time, std::tm& out) noexcept {
    return localtime_s(&out, &time) == 0;
}

}  // namespace platform
