// The audio side of the session client's lifecycle. The audio members (codec, audio
// processing, audio path, processing flags, statistics, recorders) are created with the
// client and reset here.
#include "session/voice_client.h"

namespace session {

void VoiceClient::resetAudio() noexcept {
    // Codec, processing, buffers, jitter buffer and statistics clock are reset here
    // once the client carries them; until then only the voice receive time exists.
    m_lastVoiceReceive = 0;
}

void VoiceClient::finishRecordings() noexcept {
    // Finalises both call recordings; the client has no recorders yet.
}

}  // namespace session
