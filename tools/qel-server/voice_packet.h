// Voice (RTP) packets as they travel: the 16-byte header, then the payload of an 8-byte
// prefix (nonce word, sequence; little-endian) and the enciphered codec frame.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace qelserver {

constexpr size_t kVoicePrefixBytes = 8;

// A whole voice packet for `token` around a payload (prefix and frame).
std::vector<uint8_t> voicePacket(uint32_t token, const uint8_t* payload, size_t length);

// The sequence number of a voice packet with at least 24 bytes.
uint32_t voiceSequence(const uint8_t* packet) noexcept;

}  // namespace qelserver
