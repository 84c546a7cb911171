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
    m_queue.emplace(due, std::move(packet));
    return true;
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
