// The conference service: everyone who joins with the same pin is in one room, and each
// participant hears the others mixed.
//
// Voice arrives enciphered with the sender's key and encoded; each listener needs the
// mix encoded by its own encoder and enciphered with its own key. Those two steps live
// behind VoiceChannel, one per participant, so the room only moves 20-ms frames of
// 32 kHz samples around.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace qelserver {

class VoiceChannel {
  public:
    static constexpr size_t kFrameSamples = 640;  // 20 ms at 32 kHz

    virtual ~VoiceChannel() = default;

    // Deciphers (in place) and decodes one received voice payload: the 8-byte prefix
    // of nonce word and sequence, then the frame. Fills kFrameSamples samples; false
    // when the payload holds no usable frame.
    virtual bool decode(uint8_t* payload, size_t length, int16_t* pcm) = 0;

    // Encodes one frame and enciphers it with this participant's key as a voice
    // payload (prefix and frame) in `out`. Returns the payload length, 0 on failure.
    virtual size_t encode(const int16_t* pcm, uint8_t* out, size_t room) = 0;
};

// Makes the channel of a participant from the 32-character key it was given.
using VoiceChannelFactory = std::function<std::unique_ptr<VoiceChannel>(const std::string& key)>;

class Conference {
  public:
    // Frames a participant may have queued; more means it sends faster than the room
    // mixes, and the oldest go so that delay stays bounded.
    static constexpr size_t kMaxQueuedFrames = 4;
    static constexpr uint32_t kMixPeriodMs = 20;

    explicit Conference(VoiceChannelFactory factory) : m_factory(std::move(factory)) {}

    // False when this build has no voice channel; then nobody can join.
    bool available() const noexcept { return static_cast<bool>(m_factory); }

    // A voice channel keyed for one client outside the room (null when unavailable).
    std::unique_ptr<VoiceChannel> channelFor(const std::string& key) const {
        return m_factory ? m_factory(key) : nullptr;
    }

    // A primed participant hears silence in every step that has no other voice for it,
    // until its own first voice arrives: a client plays and captures only once it has
    // heard voice, so a room of clients that all wait would otherwise stay silent.
    bool join(const std::string& pin, uint32_t token, const std::string& key, bool primed = false);
    void leave(uint32_t token);
    bool empty() const noexcept { return m_participants.empty(); }
    size_t roomSize(const std::string& pin) const;

    // One received voice payload of a participant (deciphered in place).
    void receive(uint32_t token, uint8_t* payload, size_t length);

    // One mixing step: every participant with at least one other voice to hear, and every
    // primed one, gets one payload through emit(token, payload, length).
    using Emit = std::function<void(uint32_t token, const uint8_t* payload, size_t length)>;
    void mix(const Emit& emit);

  private:
    struct Participant {
        std::string pin;
        std::unique_ptr<VoiceChannel> channel;
        std::deque<std::vector<int16_t>> frames;
        bool primed = false;
    };

    VoiceChannelFactory m_factory;
    std::map<uint32_t, Participant> m_participants;
};

}  // namespace qelserver
