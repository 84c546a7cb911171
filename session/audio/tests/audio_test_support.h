// Shared pieces of the audio pipeline tests: a log that records what the pipeline
// writes, test signals, and a device-buffer driver.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "session/audio/audio_log.h"
#include "session/audio/voice_audio.h"

namespace qeltest {

// Records every message with its level and repeat slot (-1 for plain messages). The
// client's real log folds repeated messages per second; here each call is kept so a
// test can count them.
class RecordingLog : public qel::AudioLog {
public:
    struct Line {
        int level;
        int slot;
        std::string text;
    };

    void vlog(int level, const char* format, va_list args) override;
    void vlogRepeated(int slot, int level, const char* format, va_list args) override;

    std::vector<Line> lines() const;
    int count(const std::string& prefix) const;
    void clear();

private:
    void add(int level, int slot, const char* format, va_list args);

    mutable std::mutex m_mutex;
    std::vector<Line> m_lines;
};

// Speech-like test signal at `rate`: a voiced source (harmonics of a gliding pitch)
// under a syllable envelope, with short pauses, in -1..1.
std::vector<float> speechLike(int rate, double seconds, uint32_t seed);

// Sum of a few steady tones, in -1..1.
std::vector<float> multiTone(int rate, double seconds);

// Pearson correlation of a and b[lag...] over `length` samples.
double correlationAt(const std::vector<float>& a, size_t aStart, const std::vector<float>& b,
                     size_t bStart, size_t length);

// Best correlation of `reference` against `signal` over lags 0..maxLag, where lag
// is how far `signal` runs behind. Returns the lag and fills `best`.
size_t alignByCorrelation(const std::vector<float>& reference, const std::vector<float>& signal,
                          size_t start, size_t length, size_t maxLag, double& best);

double energy(const std::vector<float>& v, size_t start, size_t end);

// Power of `v` (sampled at `rate`) at frequency `f` over [start, start + n)
// (Goertzel), normalised to the power of a full-scale sine.
double tonePower(const std::vector<float>& v, int rate, size_t start, size_t n, double f);

// The frequencies of multiTone.
inline constexpr double kToneFrequencies[] = {220.0, 470.0, 1130.0, 2390.0};

// One mono device buffer through audioIO: `in` (may be null) is the capture, the
// playback is appended to `played` when given.
bool runBuffer(qel::VoiceAudio& audio, const float* in, int frames, std::vector<float>* played,
               float inputGain = 1.0f, float outputGain = 1.0f);

// Sends every frame that `sender` has ready as sealed payloads into `receiver`.
// Returns the number of payloads delivered.
int relayFrames(qel::VoiceAudio& sender, qel::VoiceAudio& receiver, uint32_t now = 1);

// The send side as the session's packet builder does it: when a processed frame waits,
// writes the next prefix (the cipher's nonce word and sequence) at `payload`, encodes
// and enciphers the frame behind it. Returns the payload length, 0 when no frame waited
// or the encoder gave nothing.
int sealFrame(qel::VoiceAudio& audio, uint8_t* payload);

// Collects every sealed payload `sender` has ready.
std::vector<std::vector<uint8_t>> takePayloads(qel::VoiceAudio& sender);

// A 32-byte key as the server would send it.
const uint8_t* testKey();

// One end of a call at 48 kHz with 512-frame buffers, keyed with testKey() and its
// audio gate open; `processing` false switches the processing module's stages off.
// False when the set-up was refused.
bool startCallEnd(qel::VoiceAudio& audio, int latency, bool processing = true);

}  // namespace qeltest
