#include "engine/tcp_inbox.h"

namespace tallix {

void TcpInbox::push(NetPacket packet) {
    std::lock_guard lock(m_mutex);
    m_packets.push_back(std::move(packet));
}

std::optional<NetPacket> TcpInbox::pop() {
    std::lock_guard lock(m_mutex);
    if (m_packets.empty()) {
        return std::nullopt;
    }
    NetPacket packet = std::move(m_packets.front());
    m_packets.pop_front();
    return packet;
}

void TcpInbox::clear() {
    std::deque<NetPacket> dropped;
    {
        std::lock_guard lock(m_mutex);
        dropped.swap(m_packets);
    }
}

size_t TcpInbox::size() const {
    std::lock_guard lock(m_mutex);
    return m_packets.size();
}

}  // namespace tallix
