// Packets for the server's tests: requests as a client builds them, and what the
// server sends, parsed.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "session/fields.h"
#include "session/packet.h"
#include "tools/qel-server/voice_packet.h"

namespace qelserver::testing {

// Move-only: the fields point into `bytes`, whose buffer a move keeps and a copy would not.
struct ParsedPacket {
    ParsedPacket() = default;
    ParsedPacket(ParsedPacket&&) = default;
    ParsedPacket& operator=(ParsedPacket&&) = default;
    ParsedPacket(const ParsedPacket&) = delete;
    ParsedPacket& operator=(const ParsedPacket&) = delete;

    session::PacketHeader header;
    std::vector<uint8_t> bytes;
    session::FieldTable fields;

    std::string field(int32_t key) const {
        const session::FieldEntry* e = session::findField(fields, key);
        return e ? std::string(e->value, e->length) : "<absent>";
    }
};

inline ParsedPacket parsePacket(std::vector<uint8_t> bytes) {
    ParsedPacket p;
    p.bytes = std::move(bytes);
    p.header = session::readHeader(p.bytes.data());
    if (p.header.type != session::E_QELPT_RTP) {
        session::parseFields(p.fields, reinterpret_cast<const char*>(p.bytes.data()) + 16,
                             p.bytes.size() - 16);
    }
    return p;
}

inline std::vector<uint8_t> control(
    uint32_t token, uint8_t type,
    std::initializer_list<std::pair<int32_t, const char*>> fields = {}) {
    session::PacketBuilder p;
    session::initPacket(p, token, type);
    for (const auto& [key, value] : fields) {
        session::addField(p, key, "%s", value);
    }
    return std::vector<uint8_t>(p.data(), p.data() + p.size());
}

// A voice packet with nonce word 0x44332211, the sequence and a frame whose bytes
// depend on the sequence.
inline std::vector<uint8_t> voice(uint32_t token, uint32_t sequence, size_t frameBytes = 60) {
    std::vector<uint8_t> payload(kVoicePrefixBytes + frameBytes);
    const uint32_t words[2] = {0x44332211u, sequence};
    for (size_t i = 0; i < kVoicePrefixBytes; ++i) {
        payload[i] = static_cast<uint8_t>(words[i / 4] >> (8 * (i % 4)));
    }
    for (size_t i = kVoicePrefixBytes; i < payload.size(); ++i) {
        payload[i] = static_cast<uint8_t>(i * 7 + sequence);
    }
    return voicePacket(token, payload.data(), payload.size());
}

}  // namespace qelserver::testing
