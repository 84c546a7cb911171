// The session client's two call recorders.
#include "session/voice_client.h"

namespace session {

namespace {
constexpr uint32_t kProcessedRate = 32000;
}  // namespace

bool VoiceClient::record(const char* path) noexcept {
    return m_deviceRecorder.start(path, deviceRate());
}

bool VoiceClient::recordpost(const char* path) noexcept {
    return m_processedRecorder.start(path, kProcessedRate);
}

void VoiceClient::finishRecordings() noexcept {
    m_processedRecorder.finish();
    m_deviceRecorder.finish();
}

}  // namespace session
