#include "tools/qel-server/voice_channels.h"

#include <algorithm>

#include "session/audio/voice_cipher.h"
#include "session/audio/voice_codec.h"

namespace qelserver {

// One participant: the same cipher and codec a client uses, so what it sends deciphers
// and decodes here exactly as it would at the far end of a call, and what it hears is
// made the way a client's own packets are.
class CodecChannel final : public VoiceChannel {
  public:
    explicit CodecChannel(const std::string& key) { rekey(key); }

    // The channel as new for another participant: its key, and the codec's first state.
    void rekey(const std::string& key) {
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

namespace {

bool keyFits(const std::string& key) { return key.size() >= qel::VoiceCipher::kKeyBytes; }

}  // namespace

// A pooled channel in a participant's hands; it goes back to the pool with the
// participant.
class VoiceChannelPool::Lease final : public VoiceChannel {
  public:
    Lease(VoiceChannelPool& pool, std::unique_ptr<CodecChannel> channel)
        : m_pool(pool), m_channel(std::move(channel)) {}
    ~Lease() override { m_pool.m_idle.push_back(std::move(m_channel)); }

    bool decode(uint8_t* payload, size_t length, int16_t* pcm) override {
        return m_channel->decode(payload, length, pcm);
    }
    size_t encode(const int16_t* pcm, uint8_t* out, size_t room) override {
        return m_channel->encode(pcm, out, room);
    }

  private:
    VoiceChannelPool& m_pool;
    std::unique_ptr<CodecChannel> m_channel;
};

VoiceChannelPool::VoiceChannelPool() = default;
VoiceChannelPool::~VoiceChannelPool() = default;

VoiceChannelFactory VoiceChannelPool::factory() {
    return [this](const std::string& key) { return take(key); };
}

std::unique_ptr<VoiceChannel> VoiceChannelPool::take(const std::string& key) {
    if (!keyFits(key)) {
        return nullptr;
    }
    std::unique_ptr<CodecChannel> channel;
    if (m_idle.empty()) {
        channel = std::make_unique<CodecChannel>(key);
    } else {
        channel = std::move(m_idle.back());
        m_idle.pop_back();
        channel->rekey(key);
    }
    if (!channel->usable()) {
        return nullptr;
    }
    return std::make_unique<Lease>(*this, std::move(channel));
}

VoiceChannelFactory makeVoiceChannelFactory() {
    return [](const std::string& key) -> std::unique_ptr<VoiceChannel> {
        if (!keyFits(key)) {
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
