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

// While one of these exists, sleeps of the whole process have millisecond resolution.
// Windows otherwise rounds a 1-ms sleep up to a whole timer period (about 15.6 ms),
// which would stretch the spin locks' 20 one-millisecond retries to a third of a
// second and the poll loop's 20-ms steps to 31 ms. Elsewhere sleeps are fine already
// and this does nothing. Any thread may create and destroy them; they nest.
class FineSleepScope {
public:
    FineSleepScope() noexcept;
    ~FineSleepScope();
    FineSleepScope(const FineSleepScope&) = delete;
    FineSleepScope& operator=(const FineSleepScope&) = delete;

private:
    [[maybe_unused]] bool m_active = false;  // read only where the period is changed
};

// The local calendar time of `time`, without the shared result of std::localtime
// (which another thread's conversion would overwrite). False when it cannot be had.
bool localTime(std::time_t time, std::tm& out) noexcept;

// CPU time the whole process has used so far (all threads, user and system), in
// microseconds; 0 when the system cannot tell.
uint64_t processCpuMicroseconds() noexcept;

// True when `deadline` (a reading of nowMs) has been reached at `now`, across a wrap.
constexpr bool reached(uint32_t now, uint32_t deadline) noexcept {
    return static_cast<int32_t>(now - deadline) >= 0;
}

}  // namespace platform
