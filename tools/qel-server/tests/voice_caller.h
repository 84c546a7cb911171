// The voice side of a client for conference tests: encodes and enciphers what it says
// and deciphers and decodes what it hears, with the session library's own cipher and
// codec and the key its ANNOUNCE answer gave.
#pragma once

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "session/audio/voice_cipher.h"
#include "session/audio/voice_codec.h"
#include "tools/qel-server/voice_packet.h"

namespace qelserver::testing {

constexpr size_t kFrame = 640;
constexpr double kRate = 32000;

class VoiceCaller {
  public:
    VoiceCaller(uint32_t token, const std::string& key) : m_token(token) {
        m_cipher.rekey(reinterpret_cast<const uint8_t*>(key.data()));
        m_codec.reset();
    }

    // The next 20 ms of a sine tone, as a voice packet.
    std::vector<uint8_t> say(double frequency) {
        int16_t pcm[kFrame];
        for (size_t i = 0; i < kFrame; ++i, ++m_sample) {
            pcm[i] = static_cast<int16_t>(8000 * std::sin(2 * M_PI * frequency * m_sample / kRate));
        }
        uint8_t payload[kVoicePrefixBytes + 1000];
        const int bytes = m_codec.encode(pcm, payload + kVoicePrefixBytes, 1000);
        const size_t length = m_cipher.seal(payload, static_cast<size_t>(bytes));
        return voicePacket(m_token, payload, length);
    }

    // Deciphers and decodes a received voice packet; empty when it does not decode.
    std::vector<int16_t> hear(const std::vector<uint8_t>& packet) {
        std::vector<uint8_t> payload(packet.begin() + 16, packet.end());
        m_cipher.open(payload.data(), payload.size());
        std::vector<int16_t> pcm(kFrame);
        if (payload.size() <= kVoicePrefixBytes ||
            !m_codec.decode(payload.data() + kVoicePrefixBytes,
                            static_cast<int>(payload.size() - kVoicePrefixBytes), pcm.data())) {
            return {};
        }
        return pcm;
    }

  private:
    uint32_t m_token;
    qel::VoiceCipher m_cipher;
    qel::VoiceCodec m_codec;
    uint64_t m_sample = 0;
};

// Power of one frequency in a frame (Goertzel), relative to the frame's length.
inline double tonePower(const std::vector<int16_t>& pcm, double frequency) {
    const double w = 2 * M_PI * frequency / kRate;
    const double c = 2 * std::cos(w);
    double s1 = 0;
    double s2 = 0;
    for (int16_t x : pcm) {
        const double s0 = x + c * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    return (s1 * s1 + s2 * s2 - c * s1 * s2) / static_cast<double>(pcm.size());
}

}  // namespace qelserver::testing
