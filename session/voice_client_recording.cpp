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

void VoiceClient::finishRecordingsAtDestruction() noexcept {
    // The other way round from a disconnect: the device recording ends first.
    m_deviceRecorder.finish();
    m_processedRecorder.finish();
}

}  // namespace session
