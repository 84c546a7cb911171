// The cipher members of a session: one send and one receive state, the shared key,
// the send nonce word and the send sequence.
//
// A voice payload is an 8-byte prefix (nonce word, sequence; little-endian) followed
// by the codec frame. The prefix travels in clear and is the Salsa20 nonce of that
// payload, with the block counter starting at 0, so every payload deciphers on its own
// in any order.
#pragma once

#include <cstddef>
#include <cstdint>

#include "session/audio/salsa20.h"

namespace qel {

class VoiceCipher {
public:
    static constexpr size_t kKeyBytes = 32;
    static constexpr size_t kPrefixBytes = 8;

    // A new shared key (the first 32 bytes of the server's enckey, as they stand): both
    // states are keyed, the send sequence restarts at 0 and the send nonce word is
    // drawn afresh from the operating system's random source.
    void rekey(const uint8_t* key) noexcept;

    // Writes the prefix for the next packet in front of the `frameBytes` codec bytes at
    // payload + 8, enciphers those bytes in place and advances the send sequence.
    // Returns the payload length (8 + frameBytes).
    size_t seal(uint8_t* payload, size_t frameBytes) noexcept;

    // Enciphers the frame behind a prefix that the caller has already written (the
    // session's packet builder owns the nonce word and sequence then). `length`
    // counts the prefix; a payload with no frame bytes is left alone.
    void sealBehindPrefix(uint8_t* payload, size_t length) noexcept;

    // Deciphers the frame behind the prefix in place. `length` counts the prefix;
    // a payload with no frame bytes is left alone.
    void open(uint8_t* payload, size_t length) noexcept;

    uint32_t sendNonceWord() const noexcept { return m_sendNonceWord; }
    uint32_t sendSequence() const noexcept { return m_sendSequence; }
    const uint8_t* key() const noexcept { return m_key; }

    // Sequence number of a received payload (the prefix's second word).
    static uint32_t sequenceOf(const uint8_t* payload) noexcept;

private:
    VoiceCipherState m_send;
    VoiceCipherState m_receive;
    uint8_t m_key[kKeyBytes] = {};
    uint32_t m_sendNonceWord = 0;
    uint32_t m_sendSequence = 0;
};

}  // namespace qel
