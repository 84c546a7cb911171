// Millisecond clock and sleep of the session library.
#pragma once

#include <cstdint>
#include <ctime>

namespace platform {

// Milliseconds since an arbitrary origin, 32 bits wide: it wraps about every 49.7 days
// exactly like timeGetTime, so durations are always computed as unsigned differences
// (`nowMs() - start`), never by comparing two readings. Thread-safe.
uint32_t nowMs() noexcept;

// Sleeps the calling thread for about `ms` milliseconds (0 yields the processor).
void sleepMs(uint32_t ms) noexcept;

// The local calendar time of `time`, without the shared result of std::localtime
// (which another thread's conversion would overwrite). False when it cannot be had.
bool localTime(std::time_t time, std::tm& out) noexcept;

// True when `deadline` (a reading of nowMs) has been reached at `now`, across a wrap.
constexpr bool reached(uint32_t now, uint32_t deadline) noexcept {
    return static_cast<int32_t>(now - deadline) >= 0;
}

}  // namespace platform
