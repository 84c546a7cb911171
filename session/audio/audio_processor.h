// The voice processing module: echo cancellation, automatic gain control, noise
// suppression and a high-pass filter on 10-ms blocks of 32 kHz mono audio (WebRTC's
// audio processing module, the generation configured through AudioProcessing::Config).
#pragma once

#include <cstdint>
#include <memory>

namespace qel {

class AudioProcessor {
public:
    static constexpr int kSampleRate = 32000;
    static constexpr int kBlockSamples = 320;
    static constexpr int kCompressionGainDb = 90;
    // The gain control's target, in dB below full scale (the module's convention: 2
    // is -2 dBFS). Not 0: at 0 its limiter holds speech peaks at full scale, where its
    // own 16-bit output already flattens some, and the codec's overshoot on the rest
    // saturates the far end's decoder: speech said at -25 dBFS reached the far end with
    // 75 to 91 runs of samples flat at full scale in 24 s. At 2 there were none for
    // speech at -35, -25 or -15 dBFS, heard 1.7 to 2.0 dB less loud; 3 also gave none,
    // but 3 dB less loud.
    static constexpr int kTargetLevelDbfs = 2;

    // The components as the module itself reports them.
    struct Components {
        bool echoCancellation = false;
        bool gainControl = false;
        bool noiseSuppression = false;
        bool highPassFilter = false;
    };

    AudioProcessor();
    ~AudioProcessor();
    AudioProcessor(const AudioProcessor&) = delete;
    AudioProcessor& operator=(const AudioProcessor&) = delete;

    // First call: creates and configures the module with the three flags (high-pass
    // filter always on). Later calls re-initialise its internal state and keep every
    // setting; a module that has processed no block since then is left as it is (it
    // is in that state already). If the module cannot be created it stays absent and
    // audio passes through unprocessed.
    void reset(bool echoCancellation, bool gainControl, bool noiseSuppression) noexcept;

    bool exists() const noexcept { return m_module != nullptr; }

    // Switch one component. Each applies the whole configuration anew, which the
    // module does between its own processing calls.
    void enableEchoCancellation(bool on) noexcept;
    void enableGainControl(bool on) noexcept;
    void enableNoiseSuppression(bool on) noexcept;

    // The far-end block that has just been played, then the near-end block captured
    // `delayMs` later, processed in place. Both are 320-sample 32 kHz mono blocks.
    void analyzeReverse(int16_t* block) noexcept;
    void process(int16_t* block, int delayMs) noexcept;

    // What the module runs with (all false when it is absent); for diagnostics.
    Components components() const noexcept;

private:
    struct Module;
    void apply() noexcept;

    std::unique_ptr<Module> m_module;
    // A block went through the module since it was created or last initialised.
    bool m_holdsAudio = false;
};

}  // namespace qel
