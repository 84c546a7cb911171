// The voice processing module: echo cancellation, automatic gain control, noise
// suppression and a high-pass filter on 10-ms blocks of 32 kHz mono audio (WebRTC's
// audio processing module, the generation that works on AudioFrame objects).
#pragma once

#include <memory>

namespace webrtc {
class AudioProcessing;
class AudioFrame;
}  // namespace webrtc

namespace qel {

class AudioProcessor {
public:
    static constexpr int kSampleRate = 32000;
    static constexpr int kBlockSamples = 320;
    static constexpr int kCompressionGainDb = 90;
    static constexpr int kTargetLevelDbfs = 0;

    AudioProcessor();
    ~AudioProcessor();
    AudioProcessor(const AudioProcessor&) = delete;
    AudioProcessor& operator=(const AudioProcessor&) = delete;

    // First call: creates and configures the module with the three flags (high-pass
    // filter always on). Later calls re-initialise its internal state and keep every
    // setting. If the module cannot be created it stays absent and audio passes
    // through unprocessed.
    void reset(bool echoCancellation, bool gainControl, bool noiseSuppression) noexcept;

    bool exists() const noexcept { return m_module != nullptr; }

    // Switch one component; the module serialises these against its processing calls
    // internally, so they may come from a control thread during a call.
    void enableEchoCancellation(bool on) noexcept;
    void enableGainControl(bool on) noexcept;
    void enableNoiseSuppression(bool on) noexcept;

    // The far-end block that has just been played, then the near-end block captured
    // `delayMs` later, processed in place. Both are 320-sample 32 kHz mono frames.
    void analyzeReverse(webrtc::AudioFrame& frame) noexcept;
    void process(webrtc::AudioFrame& frame, int delayMs) noexcept;

    // The module itself, for diagnostics in tests (null when absent).
    webrtc::AudioProcessing* module() noexcept { return m_module.get(); }

private:
    // Sets up a module just created; throws what the module throws.
    void configure(bool echoCancellation, bool gainControl, bool noiseSuppression);

    std::unique_ptr<webrtc::AudioProcessing> m_module;
};

// Fills the format fields of `frame` for one processing block (320 samples, 32 kHz,
// mono); the samples themselves are the caller's.
void prepareBlockFrame(webrtc::AudioFrame& frame) noexcept;

}  // namespace qel
