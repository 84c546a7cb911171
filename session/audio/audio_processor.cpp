#include "session/audio/audio_processor.h"

#include <modules/audio_processing/include/audio_processing.h>

#include <new>

namespace qel {

// The module and the configuration it was last given; the three switches change
// this one configuration.
struct AudioProcessor::Module {
    rtc::scoped_refptr<webrtc::AudioProcessing> apm;
    webrtc::AudioProcessing::Config config;
};

namespace {

const webrtc::StreamConfig& blockFormat() noexcept {
    static const webrtc::StreamConfig format(AudioProcessor::kSampleRate, 1);
    return format;
}

webrtc::AudioProcessing::Config initialConfig(bool echoCancellation, bool gainControl,
                                              bool noiseSuppression) noexcept {
    webrtc::AudioProcessing::Config config;
    config.echo_canceller.enabled = echoCancellation;
    config.echo_canceller.mobile_mode = false;

    config.noise_suppression.enabled = noiseSuppression;
    config.noise_suppression.level = webrtc::AudioProcessing::Config::NoiseSuppression::kHigh;

    // The digital adaptive gain controller with its compression stage; no analog
    // microphone level is driven.
    auto& agc = config.gain_controller1;
    agc.enabled = gainControl;
    agc.mode = webrtc::AudioProcessing::Config::GainController1::kAdaptiveDigital;
    agc.compression_gain_db = AudioProcessor::kCompressionGainDb;
    agc.target_level_dbfs = AudioProcessor::kTargetLevelDbfs;
    agc.analog_gain_controller.enabled = false;

    config.high_pass_filter.enabled = true;
    return config;
}

}  // namespace

AudioProcessor::AudioProcessor() = default;
AudioProcessor::~AudioProcessor() = default;

void AudioProcessor::reset(bool echoCancellation, bool gainControl,
                           bool noiseSuppression) noexcept {
    // The module allocates in its builder and in every Initialize, and reports running
    // out of memory by throwing: then the processing stays absent (blocks pass through
    // unprocessed) rather than ending the process.
    try {
        if (m_module) {
            // Initialising allocates the module's whole state anew (tens of
            // microseconds with the echo canceller); a module that has seen no audio
            // since it was last initialised is already in that state.
            if (m_holdsAudio) {
                m_module->apm->Initialize();
                m_holdsAudio = false;
            }
            return;
        }
        auto module = std::unique_ptr<Module>(new (std::nothrow) Module);
        if (!module) {
            return;
        }
        module->config = initialConfig(echoCancellation, gainControl, noiseSuppression);
        module->apm = webrtc::AudioProcessingBuilder().SetConfig(module->config).Create();
        if (!module->apm) {
            return;
        }
        // 32 kHz mono both ways, so that the first block does not re-initialise.
        const webrtc::ProcessingConfig formats{{blockFormat(), blockFormat(), blockFormat(), blockFormat()}};
        module->apm->Initialize(formats);
        m_module = std::move(module);
    } catch (...) {
        m_module.reset();
    }
}

void AudioProcessor::apply() noexcept {
    try {
        m_module->apm->ApplyConfig(m_module->config);
    } catch (...) {
        // Out of memory while building a component: the module keeps what it had.
    }
}

void AudioProcessor::enableEchoCancellation(bool on) noexcept {
    if (m_module) {
        m_module->config.echo_canceller.enabled = on;
        apply();
    }
}

void AudioProcessor::enableGainControl(bool on) noexcept {
    if (m_module) {
        m_module->config.gain_controller1.enabled = on;
        apply();
    }
}

void AudioProcessor::enableNoiseSuppression(bool on) noexcept {
    if (m_module) {
        m_module->config.noise_suppression.enabled = on;
        apply();
    }
}

// Results of the module's calls are not examined: a failing block leaves the samples
// as they were, which is the best there is to send.
void AudioProcessor::analyzeReverse(int16_t* block) noexcept {
    if (m_module) {
        m_holdsAudio = true;
        m_module->apm->ProcessReverseStream(block, blockFormat(), blockFormat(), block);
    }
}

void AudioProcessor::process(int16_t* block, int delayMs) noexcept {
    if (m_module) {
        m_holdsAudio = true;
        m_module->apm->set_stream_delay_ms(delayMs);
        m_module->apm->ProcessStream(block, blockFormat(), blockFormat(), block);
    }
}

AudioProcessor::Components AudioProcessor::components() const noexcept {
    Components c;
    if (m_module) {
        const webrtc::AudioProcessing::Config config = m_module->apm->GetConfig();
        c.echoCancellation = config.echo_canceller.enabled;
        c.gainControl = config.gain_controller1.enabled;
        c.noiseSuppression = config.noise_suppression.enabled;
        c.highPassFilter = config.high_pass_filter.enabled;
    }
    return c;
}

}  // namespace qel
