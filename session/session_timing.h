// The session's clock and its timing constants.
#pragma once

#include <cstdint>

#include "platform/clock.h"
#include "platform/semaphore.h"

namespace session {

// One step of the poll schedule: one 640-sample voice frame at 32 kHz.
constexpr uint32_t kTickMs = 20;
// A schedule this far from the clock (a jump, a stalled caller) is re-anchored rather
// than caught up with a burst of ticks.
constexpr int32_t kRescheduleMs = 500;
// Answer timeouts of the ANNOUNCE and CONNECT_TO requests.
constexpr uint32_t kAnnounceTimeoutMs = 3000;
constexpr uint32_t kConnectTimeoutMs = 100000;
// UDP probing: a PING every 750 ms while the 3000 ms window lasts, then one over TCP.
constexpr uint32_t kProbeIntervalMs = 750;
constexpr uint32_t kProbeWindowMs = 3000;

// Waits up to `ms` for `wake`; true when it was released (one count taken).
inline bool waitForWake(platform::Semaphore& wake, uint32_t ms) noexcept {
    return wake.tryAcquireFor(static_cast<int>(ms));
}

// The millisecond clock and the waits of the session schedule. Production uses the
// platform's; tests put in a clock that they move themselves (and a wait that moves
// it, unless the semaphore already has a count).
struct TimeSource {
    uint32_t (*now)() noexcept = &platform::nowMs;
    void (*sleep)(uint32_t ms) noexcept = &platform::sleepMs;
    bool (*wait)(platform::Semaphore& wake, uint32_t ms) noexcept = &waitForWake;
};

}  // namespace session
