#include "session/audio/audio_processor.h"

#include <webrtc/modules/audio_processing/include/audio_processing.h>
#include <webrtc/modules/interface/module_common_types.h>

#include <new>

namespace qel {

AudioProcessor::AudioProcessor() = default;
AudioProcessor::~AudioProcessor() = default;

void AudioProcessor::reset(bool echoCancellation, bool gainControl,
                           bool noiseSuppression) noexcept {
    // The module allocates in Create and in every Initialize, and reports running out
    // of memory by throwing: then the processing stays absent (frames pass through
    // unprocessed) rather than ending the process.
    try {
        if (m_module) {
            m_module->Initialize();
            return;
        }
        m_module.reset(webrtc::AudioProcessing::Create());
        if (m_module) {
            configure(echoCancellation, gainControl, noiseSuppression);
        }
    } catch (...) {
        m_module.reset();
    }
}

void AudioProcessor::configure(bool echoCancellation, bool gainControl, bool noiseSuppression) {
    // This generation of the module takes rates and channel counts through Initialize
    // (and from each frame), not through per-setting calls: 32 kHz mono both ways.
    using AP = webrtc::AudioProcessing;
    m_module->Initialize(kSampleRate, kSampleRate, kSampleRate, AP::kMono, AP::kMono,
                         AP::kMono);

    webrtc::EchoCancellation* aec = m_module->echo_cancellation();
    aec->enable_drift_compensation(false);
    aec->Enable(echoCancellation);

    webrtc::NoiseSuppression* ns = m_module->noise_suppression();
    ns->set_level(webrtc::NoiseSuppression::kHigh);
    ns->Enable(noiseSuppression);

    webrtc::GainControl* agc = m_module->gain_control();
    agc->set_mode(webrtc::GainControl::kAdaptiveDigital);
    agc->set_compression_gain_db(kCompressionGainDb);
    agc->set_target_level_dbfs(kTargetLevelDbfs);
    agc->Enable(gainControl);

    m_module->high_pass_filter()->Enable(true);
}

void AudioProcessor::enableEchoCancellation(bool on) noexcept {
    if (m_module) {
        m_module->echo_cancellation()->Enable(on);
    }
}

void AudioProcessor::enableGainControl(bool on) noexcept {
    if (m_module) {
        m_module->gain_control()->Enable(on);
    }
}

void AudioProcessor::enableNoiseSuppression(bool on) noexcept {
    if (m_module) {
        m_module->noise_suppression()->Enable(on);
    }
}

// Results of the module's calls are not examined: a failing block leaves the frame as
// it was, which is the best there is to send.
void AudioProcessor::analyzeReverse(webrtc::AudioFrame& frame) noexcept {
    if (m_module) {
        m_module->AnalyzeReverseStream(&frame);
    }
}

void AudioProcessor::process(webrtc::AudioFrame& frame, int delayMs) noexcept {
    if (m_module) {
        m_module->set_stream_delay_ms(delayMs);
        m_module->ProcessStream(&frame);
    }
}

void prepareBlockFrame(webrtc::AudioFrame& frame) noexcept {
    frame.samples_per_channel_ = AudioProcessor::kBlockSamples;
    frame.sample_rate_hz_ = AudioProcessor::kSampleRate;
    frame.num_channels_ = 1;
    frame.interleaved_ = true;
    frame.speech_type_ = webrtc::AudioFrame::kNormalSpeech;
    frame.vad_activity_ = webrtc::AudioFrame::kVadUnknown;
}

}  // namespace qel
