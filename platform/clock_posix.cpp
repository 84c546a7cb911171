#include "platform/clock.h"

#include <cerrno>
#include <ctime>

namespace platform {

uint32_t nowMs() noexcept {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    const uint64_t ms = static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
    return static_cast<uint32_t>(ms);  // wraps like timeGetTime
}

void sleepMs(uint32_t ms) noexcept {
    timespec req{static_cast<time_t>(ms / 1000u), static_cast<long>(ms % 1000u) * 1000000L};
    timespec rem{};
    while (nanosleep(&req, &rem) != 0 && errno == EINTR) {
        req = rem;
    }
}

FineSleepScope::FineSleepScope() noexcept = default;
FineSleepScope::~FineSleepScope() = default;

uint64_t processCpuMicroseconds() noexcept {
    timespec ts{};
    if (clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts) != 0) {
        return 0;
    }
    return static_cast<uint64_t>(ts.tv_sec) * 1000000u + static_cast<uint64_t>(ts.tv_nsec) / 1000u;
}

bool localTime(std::time_t time, std::tm& out) noexcept {
    return localtime_r(&time, &out) != nullptr;
}

}  // namespace platform
