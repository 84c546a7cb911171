// Waits for what another thread (an audio callback, a clean-up thread) brings about:
// bounded by a deadline, never by a fixed sleep, so a loaded machine only waits longer.
#pragma once

#include <cstdint>

#include "platform/clock.h"

namespace tallix::testing {

template <typename Condition>
bool eventually(Condition condition, uint32_t ms = 5000) {
    const uint32_t deadline = platform::nowMs() + ms;
    while (!condition()) {
        if (platform::reached(platform::nowMs(), deadline)) {
            return false;
        }
        platform::sleepMs(2);
    }
    return true;
}

}  // namespace tallix::testing
