// The real voice channel of a conference participant: the voice cipher keyed with the
// participant's key and the Opus custom-mode codec at 32 kHz with 640-sample frames.
#pragma once

#include <memory>
#include <vector>

#include "tools/qel-server/conference.h"

namespace qelserver {

// The factory gives no channel for a key shorter than 32 characters, or when the codec
// cannot be set up; such a CONNECT_TO is refused with E_QELPS_CONNECTFAILED.
VoiceChannelFactory makeVoiceChannelFactory();

class CodecChannel;

// Channels that outlive their participants. Making a codec (its mode's tables, its
// encoder and decoder) costs more than a short session's packets; a process that
// starts many sessions one after another can keep the codecs here. A channel the pool
// gives out is one it made or one whose participant has gone, re-keyed and with its
// codec reset to the state a new codec starts in: the participant cannot tell it from
// a new one. Single-threaded, as the server core is; the pool must outlive every
// channel and factory it gave out.
class VoiceChannelPool {
  public:
    VoiceChannelPool();
    ~VoiceChannelPool();
    VoiceChannelPool(const VoiceChannelPool&) = delete;
    VoiceChannelPool& operator=(const VoiceChannelPool&) = delete;

    // A factory with the rules of makeVoiceChannelFactory, drawing on this pool.
    VoiceChannelFactory factory();

    // Codecs kept for the next participants.
    size_t idle() const noexcept { return m_idle.size(); }

  private:
    class Lease;
    std::unique_ptr<VoiceChannel> take(const std::string& key);

    std::vector<std::unique_ptr<CodecChannel>> m_idle;
};

}  // namespace qelserver
