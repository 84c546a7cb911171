// The session client's audio members in builds without the voice dependencies (the
// Windows test builds of the client core): only the audio gate exists. The client
// captures nothing, sends no voice, drops received voice after opening the gate, and
// records at rate 0, so the session's network side can be built and tested alone.
#include <atomic>
#include <new>

#include "session/voice_client.h"

namespace session {

struct ClientAudio {
    std::atomic<uint32_t> lastVoiceReceive{0};
};

void ClientAudioDeleter::operator()(ClientAudio* audio) const noexcept { delete audio; }

bool VoiceClient::createAudio() noexcept {
    m_audio.reset(new (std::nothrow) ClientAudio);
    return m_audio != nullptr;
}

void VoiceClient::resetAudio() noexcept { m_audio->lastVoiceReceive.store(0, std::memory_order_relaxed); }

void VoiceClient::writeAudioMessages() noexcept {}

int32_t VoiceClient::audioSetup(int32_t, int32_t, int32_t) noexcept { return 0; }

bool VoiceClient::audioIO(const float* const*, int32_t, float, float* const*, int32_t, float) noexcept {
    return false;
}

bool VoiceClient::setAudioFlag(int32_t, bool) noexcept { return false; }

int32_t VoiceClient::getAudioFlag(int32_t) const noexcept { return 0; }

uint32_t VoiceClient::lastVoiceReceive() const noexcept {
    return m_audio->lastVoiceReceive.load(std::memory_order_relaxed);
}

int VoiceClient::encodeVoiceFrame(uint8_t*, size_t) noexcept { return kNoVoiceFrame; }

bool VoiceClient::receiveVoiceFrame(uint8_t*, size_t, uint32_t arrival) noexcept {
    m_audio->lastVoiceReceive.store(arrival != 0 ? arrival : 1, std::memory_order_relaxed);
    return false;
}

void VoiceClient::keyVoiceCipher() noexcept {}

uint32_t VoiceClient::deviceRate() const noexcept { return 0; }

}  // namespace session
