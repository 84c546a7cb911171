// Packets that the host's TCP reader hands over, waiting for the call thread.
#pragma once

#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <vector>

namespace tallix {

struct NetPacket {
    static constexpr int kCapacity = 8196;
    bool error = false;
    std::vector<uint8_t> data;  // at most kCapacity bytes
};

// Producers: Java threads. Consumer: the call thread. The mutex is held only while a
// packet is linked, unlinked or the inbox is emptied.
class TcpInbox {
  public:
    void push(NetPacket packet);
    std::optional<NetPacket> pop();
    void clear();
    size_t size() const;

  private:
    mutable std::mutex m_mutex;
    std::deque<NetPacket> m_packets;
};

}  // namespace tallix
