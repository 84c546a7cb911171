// The session client's audio members: the voice pipeline (codec, processing module,
// AudioPath, cipher, statistics), its log and the call recorders' feed, and the steps
// that join it to the network side.
#include <exception>
#include <new>

#include "session/audio/voice_audio.h"
#include "session/voice_client.h"

namespace session {

// The pipeline writes into the client's log and shows its audio to the recorders.
// Both run on the audio thread: the log takes bounded spin locks, the recorders copy
// into their lock-free rings (the poll loop writes the files).
struct ClientAudio final : qel::AudioLog, qel::AudioTap {
    ClientAudio(LogManager& log, WavRecorder& device, WavRecorder& processed)
        : m_log(log), m_device(device), m_processed(processed), audio(*this) {
        audio.setTap(this);
    }

    void vlog(int level, const char* format, va_list args) override { m_log.vlog(level, format, args); }
    void vlogRepeated(int slot, int level, const char* format, va_list args) override {
        m_log.vlogRepeated(slot, level, format, args);
    }

    void deviceAudio(const int16_t* captured, const int16_t* played, int frames) noexcept override {
        const int16_t* channels[2] = {captured, played};
        m_device.push(channels, static_cast<size_t>(frames));
    }
    void processedAudio(const int16_t* samples, int count) noexcept override {
        m_processed.push(&samples, static_cast<size_t>(count));
    }

    LogManager& m_log;
    WavRecorder& m_device;
    WavRecorder& m_processed;
    qel::VoiceAudio audio;
};

// The pipeline's repeat slots are the log's.
static_assert(qel::VoiceAudio::kUnderrunSlot == kRepeatNetworkUnderrun);
static_assert(qel::VoiceAudio::kInsertionSlot == kRepeatJitterInserted);

void ClientAudioDeleter::operator()(ClientAudio* audio) const noexcept { delete audio; }

bool VoiceClient::createAudio() noexcept {
    try {
        m_audio.reset(new ClientAudio(*m_log, m_deviceRecorder, m_processedRecorder));
    } catch (const std::exception&) {
        // Out of memory in the pipeline's own allocations: no client rather than one
        // without a voice.
        return false;
    }
    return true;
}

void VoiceClient::resetAudio() noexcept { m_audio->audio.reset(); }

bool VoiceClient::audioComplete() const noexcept { return m_audio->audio.processor().exists(); }
void VoiceClient::writeAudioMessages() noexcept { m_audio->audio.writeAudioMessages(); }

bool VoiceClient::waitForFrame(uint32_t ms) noexcept {
    platform::Semaphore& ready = m_audio->audio.frameReady();
    if (!m_time.wait(ready, ms)) {
        return false;
    }
    // Releases that piled up while nobody waited are one wake-up, not several.
    while (ready.tryAcquireFor(0)) {
    }
    return true;
}

int32_t VoiceClient::audioSetup(int32_t rate, int32_t frames, int32_t latency) noexcept {
    return m_audio->audio.audioSetup(rate, frames, latency);
}

bool VoiceClient::audioIO(const float* const* inputs, int32_t inputCount, float inputGain,
                          float* const* outputs, int32_t outputCount, float outputGain) noexcept {
    return m_audio->audio.audioIO(inputs, inputCount, inputGain, outputs, outputCount, outputGain);
}

bool VoiceClient::setAudioFlag(int32_t flag, bool on) noexcept { return m_audio->audio.setFlag(flag, on); }

int32_t VoiceClient::getAudioFlag(int32_t flag) const noexcept { return m_audio->audio.getFlag(flag); }

uint32_t VoiceClient::lastVoiceReceive() const noexcept { return m_audio->audio.lastVoiceReceive(); }

int VoiceClient::encodeVoiceFrame(uint8_t* packet, size_t capacity) noexcept {
    // The head's nonce word and sequence are the nonce; the frame goes behind them.
    constexpr size_t kPrefixAt = kHeaderSize;
    if (capacity < kPrefixAt + qel::VoiceCipher::kPrefixBytes + qel::AudioPath::kMaxEncodedBytes) {
        return kNoVoiceFrame;
    }
    const int bytes = m_audio->audio.encodeBehindPrefix(packet + kPrefixAt);
    return bytes == qel::VoiceAudio::kNoFrame ? kNoVoiceFrame : bytes;
}

bool VoiceClient::receiveVoiceFrame(uint8_t* payload, size_t length, uint32_t arrival) noexcept {
    qel::VoiceAudio& audio = m_audio->audio;
    // The poll ticks' time since the last statistics line goes with the packets.
    audio.addPollTime(m_pollTimeMs);
    m_pollTimeMs = 0;
    // Payloads are bounded by the receive buffers, far below INT32_MAX.
    return audio.onAudioPacket(payload, static_cast<int32_t>(length), arrival);
}

void VoiceClient::keyVoiceCipher() noexcept {
    m_audio->audio.cipher().rekey(m_voiceKey);
}

uint32_t VoiceClient::deviceRate() const noexcept {
    return static_cast<uint32_t>(m_audio->audio.deviceRate());
}

qel::StageProbe& VoiceClient::stageProbe() noexcept { return m_audio->audio.path().probe(); }

}  // namespace session
