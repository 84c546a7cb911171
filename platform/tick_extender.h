// A 64-bit millisecond count made from a 32-bit one that wraps every 49.7 days, as
// GetTickCount64 is made from GetTickCount on Windows versions that lack it (XP).
// Thread-safe and lock-free. It must see a reading at least once every 24.8 days
// (half the wrap), which a process that asks for the time at all does.
#pragma once

#include <atomic>
#include <cstdint>

namespace platform {

class TickExtender {
  public:
    // The 64-bit count for the 32-bit reading `now`. A reading that looks older than the
    // last one seen by less than half the wrap is a thread's stale reading, not a wrap.
    uint64_t extend(uint32_t now) noexcept {
        uint64_t last = m_last.load(std::memory_order_acquire);
        for (;;) {
            const auto lastLow = static_cast<uint32_t>(last);
            const uint64_t high = last >> 32;
            if (last != 0 && static_cast<int32_t>(now - lastLow) < 0) {
                // Behind the last reading by less than half the wrap: another thread's
                // newer reading got in first. Nothing to record; the reading belongs to
                // the epoch before when the other one has wrapped since.
                return ((now > lastLow ? high - 1 : high) << 32) | now;
            }
            const uint64_t extended = ((now < lastLow ? high + 1 : high) << 32) | now;
            if (m_last.compare_exchange_weak(last, extended, std::memory_order_acq_rel,
                                             std::memory_order_acquire)) {
                return extended;
            }
        }
    }

  private:
    std::atomic<uint64_t> m_last{0};  // the latest count handed out; 0 before the first
};

}  // namespace platform
