// Cutting received bytes into session packets.
//
// Packets lie end to end, each `len` bytes long from its header on. A TCP connection
// delivers them in pieces of any size, so each connection keeps its own PacketStream;
// a UDP datagram holds whole packets and is walked on its own, so a datagram never
// lands inside a pending TCP packet.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "session/packet.h"

namespace qelserver {

enum class FrameCheck {
    Complete,    // a whole packet of `len` bytes starts here
    Incomplete,  // fewer bytes than the header or than `len`: wait for more
    Broken,      // bad magic or a len below the header size: the stream position is lost
};

// Examines the bytes at `bytes` (`available` of them); on Complete, `length` is the
// packet's len.
FrameCheck checkFrame(const uint8_t* bytes, size_t available, size_t& length) noexcept;

// Calls onPacket(const uint8_t* packet, size_t length) for every whole packet of a
// datagram. Returns false when the datagram ends in a broken or partial packet (the
// packets before it have been handed out).
template <typename OnPacket>
bool walkDatagram(const uint8_t* bytes, size_t size, OnPacket&& onPacket) {
    size_t offset = 0;
    while (offset < size) {
        size_t length = 0;
        if (checkFrame(bytes + offset, size - offset, length) != FrameCheck::Complete) {
            return false;
        }
        onPacket(bytes + offset, length);
        offset += length;
    }
    return true;
}

// Reassembly buffer of one TCP connection.
class PacketStream {
  public:
    // A session packet is at most 65535 bytes; one more than that pending can only be
    // a stream that lost its framing.
    static constexpr size_t kLimit = 65535 + 65535;

    // Appends `size` bytes and hands every packet they complete to onPacket. Returns
    // false when the stream is broken (bad magic, len below 16); the buffer is then
    // emptied and the connection should be dropped, since nothing after it can be
    // trusted.
    template <typename OnPacket>
    bool feed(const uint8_t* bytes, size_t size, OnPacket&& onPacket) {
        if (m_buffer.size() + size > kLimit) {
            m_buffer.clear();
            return false;
        }
        m_buffer.insert(m_buffer.end(), bytes, bytes + size);
        size_t offset = 0;
        bool intact = true;
        while (offset < m_buffer.size()) {
            size_t length = 0;
            const FrameCheck check =
                checkFrame(m_buffer.data() + offset, m_buffer.size() - offset, length);
            if (check == FrameCheck::Incomplete) {
                break;
            }
            if (check == FrameCheck::Broken) {
                intact = false;
                offset = m_buffer.size();
                break;
            }
            onPacket(m_buffer.data() + offset, length);
            offset += length;
        }
        m_buffer.erase(m_buffer.begin(), m_buffer.begin() + static_cast<std::ptrdiff_t>(offset));
        return intact;
    }

    size_t pending() const noexcept { return m_buffer.size(); }

  private:
    std::vector<uint8_t> m_buffer;
};

}  // namespace qelserver
