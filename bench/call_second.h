// One second of call audio through one end of a call: 94 device buffers of 512 frames
// at 48 kHz through audioIO, the far end's packets through the receive step, the
// encoder step and cipher for every frame that is ready, every processing component
// on. Shared by bench_audio (Google Benchmark) and audio_path_cpu (a plain program
// that also runs in the Windows builds, under Wine).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "session/audio/audio_log.h"
#include "session/audio/voice_audio.h"

namespace bench {

class NullLog : public qel::AudioLog {
  public:
    void vlog(int, const char*, va_list) override {}
    void vlogRepeated(int, int, const char*, va_list) override {}
};

// The near end of a call with the far end's packets made beforehand, so that a
// second() costs only what the near end's threads do in a second of call.
class CallSecond {
  public:
    // `processing` false turns echo cancellation, gain control and noise suppression
    // off on both ends, which leaves the codec, jitter buffer, converters and cipher.
    explicit CallSecond(bool processing = true);

    // Runs one second of call; returns a value of the output, so that the work
    // cannot be left out.
    float second();

  private:
    using Packets = std::vector<std::vector<std::vector<uint8_t>>>;

    NullLog m_log;
    qel::VoiceAudio m_far;
    qel::VoiceAudio m_near;
    std::vector<float> m_signal;
    std::vector<float> m_out;
    Packets m_farPackets;
    size_t m_buffer = 0;
};

}  // namespace bench
