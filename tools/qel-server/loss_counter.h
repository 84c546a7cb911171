// Counts the voice packets missing from one sender's sequence numbers.
//
// A client numbers its voice packets 0, 1, 2 ... from its announce on. A jump forward
// counts the skipped numbers as lost; a packet that turns up late (reordered) takes its
// number back off the count, and a duplicate changes nothing.
#pragma once

#include <cstdint>

namespace qelserver {

class LossCounter {
  public:
    // A forward jump larger than this is a restart of the sender's numbering, not
    // loss: nobody loses a minute of voice and comes back with the same session.
    static constexpr uint32_t kMaxGap = 3000;

    void received(uint32_t sequence) noexcept;

    // Lost in the current window (since the last call), then a new window starts. A
    // late packet whose number was counted in an earlier window is taken off the
    // current one only if it has any; the total is always exact.
    uint32_t takeWindow() noexcept;

    uint64_t total() const noexcept { return m_total; }
    uint64_t received() const noexcept { return m_received; }

  private:
    uint32_t m_expected = 0;  // the next number in order
    uint64_t m_seen = 0;      // bit i: number m_expected - 1 - i arrived
    uint32_t m_window = 0;
    uint64_t m_total = 0;
    uint64_t m_received = 0;
};

}  // namespace qelserver
