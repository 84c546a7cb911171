#include "session/audio/voice_audio.h"

#include <speex/speex_jitter.h>

#include <cstring>
#include <new>

#include "platform/clock.h"

namespace qel {

namespace {

// Float sample scaled to 16 bits: truncation toward zero, clamped, NaN as silence.
int16_t toSample(float v) noexcept {
    if (v >= 32767.0f) {
        return 32767;
    }
    if (v <= -32768.0f) {
        return -32768;
    }
    if (v != v) {
        return 0;
    }
    return static_cast<int16_t>(v);
}

}  // namespace

VoiceAudio::VoiceAudio(AudioLog& log) : m_log(log), m_path(m_codec, m_processor) {}

VoiceAudio::~VoiceAudio() = default;

void VoiceAudio::reset() noexcept {
    m_receivedSinceReset = 0;
    m_rxCount = 0;
    m_txCount = 0;
    m_pollTime = 0;
    m_audioTime.store(0, std::memory_order_relaxed);
    m_lastVoiceReceive.store(0, std::memory_order_release);
    m_networkLoad = 0.0f;
    m_audioLoad = 0.0f;
    m_lastStatistics = platform::nowMs();

    // A new module starts with the flags as they are; an existing one keeps its
    // settings through the reset, so requests still pending are applied now (nothing
    // else runs during a reset).
    m_processor.reset(getFlag(1) != 0, getFlag(2) != 0, getFlag(3) != 0);
    applyFlagRequests();
    m_codec.reset();

    if (!m_captureMix) {
        m_captureMix.reset(new (std::nothrow) int16_t[kScratchSamples]);
    }
    if (!m_playbackScratch) {
        m_playbackScratch.reset(new (std::nothrow) int16_t[kScratchSamples]);
    }
    if (m_captureMix) {
        std::memset(m_captureMix.get(), 0, kScratchSamples * sizeof(int16_t));
    }
    if (m_playbackScratch) {
        std::memset(m_playbackScratch.get(), 0, kScratchSamples * sizeof(int16_t));
    }
    m_path.clear();
}

int32_t VoiceAudio::audioSetup(int32_t rate, int32_t frames, int32_t latency) noexcept {
    if (rate == m_deviceRate && frames == m_frames) {
        return rate;  // same format: keep the buffered audio
    }
    // A rate of 0 or less would divide by zero in the converters, and a buffer larger
    // than the scratch buffers would overrun them: refuse and keep the old format.
    if (rate <= 0 || frames <= 0 || frames > kScratchSamples) {
        return 0;
    }
    m_latency = latency;
    m_deviceRate = rate;
    m_frames = frames;
    const int result = m_path.setup(rate, frames, latency);
    // The delay the echo canceller is told comes from the caller's latency figure; a
    // wrong unit there shows as a wrong delay here.
    m_log.log(4, "Audio setup: %d Hz, %d frames, latency %d samples, echo delay %d ms", rate,
              frames, latency, m_path.streamDelayMs());
    return result;
}

void VoiceAudio::mixCapture(const float* const* inputs, int n, float factor) noexcept {
    int16_t* mix = m_captureMix.get();
    const int frames = m_frames;
    if (n == 0) {
        std::memset(mix, 0, static_cast<size_t>(frames) * sizeof(int16_t));
        return;
    }
    const float scale = factor * 32768.0f;
    for (int k = 0; k < frames; ++k) {
        float sum = 0.0f;
        for (int c = 0; c < n; ++c) {
            sum += inputs[c][k];
        }
        mix[k] = toSample(sum * scale);
    }
}

bool VoiceAudio::audioIO(const float* const* inputs, int32_t inputCount, float inputGain,
                         float* const* outputs, int32_t outputCount, float outputGain) noexcept {
    if (m_deviceRate == 0 || m_frames == 0 || !m_captureMix || !m_playbackScratch) {
        return false;
    }
    const uint32_t start = platform::nowMs();
    const int frames = m_frames;

    const float* in[kMaxChannels];
    float* out[kMaxChannels];
    int n = 0;
    int m = 0;
    for (int i = 0; inputs && i < inputCount && i < kMaxChannels; ++i) {
        if (inputs[i]) {
            in[n++] = inputs[i];
        }
    }
    for (int i = 0; outputs && i < outputCount && i < kMaxChannels; ++i) {
        if (outputs[i]) {
            out[m++] = outputs[i];
        }
    }
    float inputFactor = n > 0 ? inputGain / static_cast<float>(n) : 0.0f;
    if (!(inputFactor >= 0.0f)) {
        inputFactor = 0.0f;  // negative (or NaN) gain acts as 0
    }
    if (!(outputGain >= 0.0f)) {
        outputGain = 0.0f;
    }

    bool silent = lastVoiceReceive() == 0;  // gate closed until the far end is heard
    if (!silent) {
        mixCapture(in, n, inputFactor);
        int result = AudioPath::kJitterOk;
        bool frameReady = false;
        {
            platform::SpinGuard guard(m_path.lock(), static_cast<int32_t>(PathHolder::kAudioIO));
            if (guard) {
                applyFlagRequests();
                result = m_path.process(m_captureMix.get(), m_playbackScratch.get(), frames);
                frameReady = m_path.frameCompleted();
            } else {
                silent = true;
                m_skippedBuffers.fetch_add(1, std::memory_order_relaxed);
            }
        }
        if (frameReady) {
            m_frameReady.release();  // after the lock, which the woken tick takes
        }
        // A missing or inserted frame has already been concealed by the decoder, and
        // the buffer also holds the tail of the frame before it: it plays as it is.
        if (!silent && result != AudioPath::kJitterOk) {
            countJitter(result);
        }
        if (!silent && m_tap != nullptr) {
            m_tap->deviceAudio(m_captureMix.get(), m_playbackScratch.get(), frames);
        }
    }

    if (silent) {
        for (int c = 0; c < m; ++c) {
            std::memset(out[c], 0, static_cast<size_t>(frames) * sizeof(float));
        }
    } else if (m > 0) {
        const float scale = outputGain * 0.000030517578125f;  // 2^-15
        const int16_t* scratch = m_playbackScratch.get();
        for (int k = 0; k < frames; ++k) {
            out[0][k] = static_cast<float>(scratch[k]) * scale;
        }
        for (int c = 1; c < m; ++c) {
            std::memcpy(out[c], out[0], static_cast<size_t>(frames) * sizeof(float));
        }
    }
    m_audioTime.fetch_add(platform::nowMs() - start, std::memory_order_relaxed);
    return true;
}

void VoiceAudio::countJitter(int result) noexcept {
    if (result == JITTER_BUFFER_MISSING) {
        m_underruns.fetch_add(1, std::memory_order_relaxed);
    } else if (result == JITTER_BUFFER_INSERTION) {
        m_insertions.fetch_add(1, std::memory_order_relaxed);
    } else {
        const uint32_t head = m_errorHead.load(std::memory_order_relaxed);
        if (head - m_errorTail.load(std::memory_order_acquire) < kErrorRing) {
            m_errorCodes[head % kErrorRing].store(result, std::memory_order_relaxed);
            m_errorHead.store(head + 1, std::memory_order_release);
        }
        // A full ring drops the code: sixteen errors within one poll step say enough.
    }
}

void VoiceAudio::writeAudioMessages() noexcept {
    const uint32_t underruns = m_underruns.load(std::memory_order_relaxed);
    for (; m_writtenUnderruns != underruns; ++m_writtenUnderruns) {
        m_log.logRepeated(kUnderrunSlot, 4, "Network underrun");
    }
    const uint32_t insertions = m_insertions.load(std::memory_order_relaxed);
    for (; m_writtenInsertions != insertions; ++m_writtenInsertions) {
        m_log.logRepeated(kInsertionSlot, 4, "Jitter buffer packet inserted");
    }
    const uint32_t head = m_errorHead.load(std::memory_order_acquire);
    uint32_t tail = m_errorTail.load(std::memory_order_relaxed);
    for (; tail != head; ++tail) {
        m_log.log(4, "JitterBuffer error %d", m_errorCodes[tail % kErrorRing].load(std::memory_order_relaxed));
    }
    m_errorTail.store(tail, std::memory_order_release);
}

void VoiceAudio::applyFlagRequests() noexcept {
    static constexpr void (AudioProcessor::*kEnable[])(bool) noexcept = {
        &AudioProcessor::enableEchoCancellation,
        &AudioProcessor::enableGainControl,
        &AudioProcessor::enableNoiseSuppression,
    };
    // Relaxed is enough for the flags themselves: the acquire on the request word
    // orders them after the store that setFlag made before setting its bit.
    const uint32_t requests = m_flagRequests.exchange(0, std::memory_order_acquire);
    for (int i = 0; i < 3; ++i) {
        if ((requests & (1u << i)) != 0) {
            (m_processor.*kEnable[i])(m_flags[i].load(std::memory_order_relaxed) != 0);
        }
    }
}

bool VoiceAudio::setFlag(int32_t flag, bool on) noexcept {
    // Flags 1 to 3, each switching one processing stage and named in the log as the
    // host's own setters are.
    static constexpr const char* kSetters[] = {"setAEC1", "setAGC", "setNoiseSup"};
    if (flag < 1 || flag > 3) {
        return false;
    }
    m_flags[flag - 1].store(on ? 1 : 0, std::memory_order_relaxed);
    m_flagRequests.fetch_or(1u << (flag - 1), std::memory_order_release);
    m_log.log(4, "%s(%s)", kSetters[flag - 1], on ? "true" : "false");
    return true;
}

int32_t VoiceAudio::getFlag(int32_t flag) const noexcept {
    if (flag < 1 || flag > 3) {
        return 0;
    }
    return m_flags[flag - 1].load(std::memory_order_relaxed) != 0 ? 1 : 0;
}

int VoiceAudio::encodeBehindPrefix(uint8_t* payload) noexcept {
    const int bytes = encodeStep(payload + VoiceCipher::kPrefixBytes);
    if (bytes == kNoFrame) {
        return kNoFrame;
    }
    if (m_path.probe().awaitingSequence()) {
        m_path.probe().sent(VoiceCipher::sequenceOf(payload) * AudioPath::kFrameSamples);
    }
    m_cipher.sealBehindPrefix(payload, VoiceCipher::kPrefixBytes + static_cast<size_t>(bytes));
    ++m_txCount;
    return bytes;
}

bool VoiceAudio::receiveStep(uint8_t* payload, int32_t length) noexcept {
    m_log.log(5, "recv_rtp(%d)", length);
    if (length < kMinPayloadBytes) {
        return false;
    }
    const uint32_t sequence = VoiceCipher::sequenceOf(payload);
    m_cipher.open(payload, static_cast<size_t>(length));
    int available = 0;
    if (!m_path.queueFrame(payload + VoiceCipher::kPrefixBytes,
                           length - static_cast<int32_t>(VoiceCipher::kPrefixBytes), sequence,
                           available)) {
        return false;
    }
    if (++m_receivedSinceReset % kStatisticsEvery == 0) {
        writeStatistics(available);
    }
    return true;
}

bool VoiceAudio::onAudioPacket(uint8_t* payload, int32_t length, uint32_t arrival) noexcept {
    ++m_rxCount;
    const bool queued = receiveStep(payload, length);
    setLastVoiceReceive(arrival != 0 ? arrival : 1);
    return queued;
}

void VoiceAudio::writeStatistics(int available) noexcept {
    const uint32_t now = platform::nowMs();
    // Two lines within the same millisecond would divide by zero and leave the
    // smoothed loads infinite for good.
    uint32_t elapsedMs = now - m_lastStatistics;
    if (elapsedMs == 0) {
        elapsedMs = 1;
    }
    const float elapsed = static_cast<float>(elapsedMs);
    const uint32_t audioTime = m_audioTime.exchange(0, std::memory_order_relaxed);
    m_networkLoad = (static_cast<float>(m_pollTime) / elapsed + m_networkLoad) * 0.5f;
    m_audioLoad = (static_cast<float>(audioTime) / elapsed + m_audioLoad) * 0.5f;
    m_log.log(4, "jb=%d, rx=%d tx=%d @%4.1fHz, nl=%4.1f%% al=%4.1f%% tl=%4.1f%%", available,
              m_rxCount, m_txCount, static_cast<double>(m_txCount * 1000.0f / elapsed),
              static_cast<double>(m_networkLoad * 100.0f), static_cast<double>(m_audioLoad * 100.0f),
              static_cast<double>((m_networkLoad + m_audioLoad) * 100.0f));

    const uint32_t skips = skippedBuffers();
    const uint32_t misses = m_path.lockMisses();
    if (skips != m_reportedSkips || misses != m_reportedMisses) {
        m_log.log(2, "Audio path lock busy: %u device buffers skipped, %u frames not encoded or queued",
                  skips - m_reportedSkips, misses - m_reportedMisses);
        m_reportedSkips = skips;
        m_reportedMisses = misses;
    }
    m_pollTime = 0;
    m_rxCount = 0;
    m_txCount = 0;
    m_lastStatistics = now;
}

}  // namespace qel
