// The audio side of the session client's lifecycle. The audio members (codec, audio
// processing, audio path, processing flags, statistics) are created with the client and
// reset here.
#include "session/voice_client.h"

namespace session {

void VoiceClient::resetAudio() noexcept {
    // Codec, processing, buffers, jitter buffer and statistics clock are reset here
    // once the client carries them; until then only the voice receive time exists.
    m_lastVoiceReceive = 0;
}

// The four calls below join the network side to the audio pipeline, which fills them
// in: the encoder step and send cipher, the receive step with its cipher and jitter
// buffer, the keying of both cipher states, and the device format. Until then the
// client captures nothing, drops received voice and records at rate 0.

int VoiceClient::encodeVoiceFrame(uint8_t* /*packet*/, size_t /*capacity*/) noexcept {
    return kNoVoiceFrame;
}

bool VoiceClient::receiveVoiceFrame(uint8_t* /*payload*/, size_t /*length*/) noexcept {
    return false;
}

void VoiceClient::keyVoiceCipher() noexcept {}

uint32_t VoiceClient::deviceRate() const noexcept { return 0; }

}  // namespace session
