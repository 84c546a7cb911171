#include "tools/qel-server/voice_channels.h"

#include <algorithm>

#include "session/audio/voice_cipher.h"
#include "session/audio/voice_codec.h"

namespace qelserver {

namespace {

// One participant: the same cipher and codec a client uses, so what it sends deciphers
// and decodes here exactly as it would at the far end of a call, and what it hears is
// made the way a client's own packets are.
class CodecChannel final : public VoiceChannel {
  public:
    explicit CodecChannel(const std::string& key) {
        m_cipher.rekey(reinterpret_cast<const uint8_t*>(key.data()));
        m_codec.reset();
    }

    bool usable() const noexcept { return m_codec.hasEncoder() && m_codec.hasDecoder(); }

    bool decode(uint8_t* payload, size_t length, int16_t* pcm) override {
        // A client drops payloads of 9 bytes or less as well: no frame worth decoding.
        if (length <= qel::VoiceCipher::kPrefixBytes + 1) {
            return false;
        }
        m_cipher.open(payload, length);
        const uint8_t* frame = payload + qel::VoiceCipher::kPrefixBytes;
        const int frameBytes = static_cast<int>(length - qel::VoiceCipher::kPrefixBytes);
        return m_codec.decode(frame, frameBytes, pcm);
    }

    size_t encode(const int16_t* pcm, uint8_t* out, size_t room) override {
        if (room <= qel::VoiceCipher::kPrefixBytes) {
            return 0;
        }
        // A client never builds a frame above 1000 bytes; neither does the server.
        const int frameRoom =
            static_cast<int>(std::min<size_t>(room - qel::VoiceCipher::kPrefixBytes, 1000));
        const int frameBytes = m_codec.encode(pcm, out + qel::VoiceCipher::kPrefixBytes, frameRoom);
        if (frameBytes <= 0) {
            return 0;
        }
        return m_cipher.seal(out, static_cast<size_t>(frameBytes));
    }

  private:
    qel::VoiceCipher m_cipher;
    qel::VoiceCodec m_codec;
};

}  // namespace

VoiceChannelFactory makeVoiceChannelFactory() {
    return [](const std::string& key) -> std::unique_ptr<VoiceChannel> {
        if (key.size() < qel::VoiceCipher::kKeyBytes) {
            return nullptr;
        }
        auto channel = std::make_unique<CodecChannel>(key);
        if (!channel->usable()) {
            return nullptr;
        }
        return channel;
    };
}

}  // namespace qelserver
