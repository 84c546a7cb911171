#include "tools/qel-server/loss_counter.h"

namespace qelserver {

void LossCounter::received(uint32_t sequence) noexcept {
    ++m_received;
    const uint32_t ahead = sequence - m_expected;  // unsigned: wraps like the sequence
    if (ahead <= kMaxGap) {
        m_window += ahead;
        m_total += ahead;
        const uint32_t shift = ahead + 1;
        m_seen = (shift >= 64 ? 0 : m_seen << shift) | 1;
        m_expected = sequence + 1;
        return;
    }
    const uint32_t behind = m_expected - 1 - sequence;
    if (behind < 64) {
        const uint64_t bit = uint64_t{1} << behind;
        if ((m_seen & bit) == 0) {
            m_seen |= bit;
            if (m_total > 0) {
                --m_total;
            }
            if (m_window > 0) {
                --m_window;
            }
        }
        return;
    }
    // Far outside the window either way: start counting afresh from here.
    m_seen = 1;
    m_expected = sequence + 1;
}

uint32_t LossCounter::takeWindow() noexcept {
    const uint32_t lost = m_window;
    m_window = 0;
    return lost;
}

}  // namespace qelserver
