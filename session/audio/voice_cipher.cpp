#include "session/audio/voice_cipher.h"

#include <cstring>

#include "platform/random.h"

namespace qel {

namespace {

void store32(uint8_t* p, uint32_t v) noexcept {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

}  // namespace

void VoiceCipher::rekey(const uint8_t* key) noexcept {
    std::memcpy(m_key, key, kKeyBytes);
    m_send.keySetup(m_key);
    m_receive.keySetup(m_key);
    m_sendNonceWord = platform::randomWord();
    m_sendSequence = 0;
}

size_t VoiceCipher::seal(uint8_t* payload, size_t frameBytes) noexcept {
    store32(payload, m_sendNonceWord);
    store32(payload + 4, m_sendSequence);
    ++m_sendSequence;
    m_send.nonceSetup(payload);
    m_send.crypt(payload + kPrefixBytes, frameBytes);
    return kPrefixBytes + frameBytes;
}

void VoiceCipher::sealBehindPrefix(uint8_t* payload, size_t length) noexcept {
    if (length <= kPrefixBytes) {
        return;
    }
    m_send.nonceSetup(payload);
    m_send.crypt(payload + kPrefixBytes, length - kPrefixBytes);
}

void VoiceCipher::open(uint8_t* payload, size_t length) noexcept {
    if (length <= kPrefixBytes) {
        return;
    }
    m_receive.nonceSetup(payload);
    m_receive.crypt(payload + kPrefixBytes, length - kPrefixBytes);
}

uint32_t VoiceCipher::sequenceOf(const uint8_t* payload) noexcept {
    const uint8_t* p = payload + 4;
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

}  // namespace qel
