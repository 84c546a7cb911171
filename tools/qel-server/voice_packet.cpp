#include "tools/qel-server/voice_packet.h"

#include <cstring>

#include "session/packet.h"

namespace qelserver {

std::vector<uint8_t> voicePacket(uint32_t token, const uint8_t* payload, size_t length) {
    std::vector<uint8_t> bytes(session::kHeaderSize + length);
    session::PacketHeader h;
    h.magic = session::kPacketMagic;
    h.token = token;
    h.len = static_cast<uint16_t>(bytes.size());
    h.type = session::E_QELPT_RTP;
    session::writeHeader(bytes.data(), h);
    if (length != 0) {
        std::memcpy(bytes.data() + session::kHeaderSize, payload, length);
    }
    return bytes;
}

uint32_t voiceSequence(const uint8_t* packet) noexcept {
    const uint8_t* p = packet + session::kHeaderSize + 4;
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

}  // namespace qelserver
