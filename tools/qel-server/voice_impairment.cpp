#include "tools/qel-server/voice_impairment.h"

namespace qelserver {

VoiceImpairment::VoiceImpairment(const ImpairmentConfig& config, uint64_t seed)
    : m_config(config), m_random(seed) {}

bool VoiceImpairment::submit(Outgoing packet, uint64_t nowMs) {
    // Every draw is made for every packet, in the same order, so the loss pattern does
    // not depend on the jitter setting and the other way round.
    const bool lose = m_random.chance(m_config.lossPercent);
    const uint64_t jitter = m_random.upTo(m_config.jitterMs);
    const bool reorder = m_random.chance(m_config.reorderPercent);
    if (lose) {
        ++m_lost;
        return false;
    }
    uint64_t due = nowMs + jitter;
    if (reorder) {
        ++m_reordered;
        due += kReorderHoldMs;
    }
    // A stall holds the packet whatever else would have happened to it; those that fall
    // in one leave together at its end, in the order they came (the multimap keeps the
    // order of equal keys).
    const uint64_t held = stallEnd(nowMs);
    if (held > due) {
        ++m_stalled;
        due = held;
    }
    m_queue.emplace(due, std::move(packet));
    return true;
}

uint64_t VoiceImpairment::stallEnd(uint64_t nowMs) {
    if (m_config.stallMs == 0) {
        return nowMs;
    }
    if (m_firstMs == UINT64_MAX) {
        m_firstMs = nowMs;
    }
    const uint64_t since = nowMs - m_firstMs;
    const uint64_t into = since % m_config.stallEveryMs;
    if (since < m_config.stallEveryMs || into >= m_config.stallMs) {
        return nowMs;
    }
    return nowMs - into + m_config.stallMs;
}

void VoiceImpairment::release(uint64_t nowMs, std::vector<Outgoing>& out) {
    auto end = m_queue.upper_bound(nowMs);
    for (auto it = m_queue.begin(); it != end; ++it) {
        out.push_back(std::move(it->second));
    }
    m_queue.erase(m_queue.begin(), end);
}

void VoiceImpairment::forgetConnection(ConnId connection) {
    std::erase_if(m_queue, [connection](const auto& entry) {
        return entry.second.transport == Transport::Tcp && entry.second.connection == connection;
    });
}

uint64_t VoiceImpairment::nextDue() const noexcept {
    return m_queue.empty() ? UINT64_MAX : m_queue.begin()->first;
}

}  // namespace qelserver
