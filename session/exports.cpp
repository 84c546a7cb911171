// The library's plain C entry points: handle conversion and null checks only; the
// behaviour lives in VoiceClient and LogManager. No exception leaves these functions
// (everything they call is noexcept).
#include "session/qel_api.h"
#include "session/voice_client.h"

namespace {

session::VoiceClient* toClient(QelClient* client) noexcept {
    return reinterpret_cast<session::VoiceClient*>(client);
}

session::LogManager* toLog(QelLogManager* log) noexcept {
    return reinterpret_cast<session::LogManager*>(log);
}

int asResult(bool value) noexcept { return value ? 1 : 0; }

}  // namespace

extern "C" {

QEL_API QelClient* getClient(void) {
    return reinterpret_cast<QelClient*>(session::VoiceClient::create().release());
}

QEL_API void freeClient(QelClient* client) { delete toClient(client); }

QEL_API void reset(QelClient* client) {
    if (client != nullptr) {
        toClient(client)->reset();
    }
}

QEL_API const char* version(void) { return session::VoiceClient::kProtocolVersion; }

QEL_API int active(QelClient* client) {
    return asResult(client != nullptr && toClient(client)->active());
}

QEL_API int announce(QelClient* client) {
    return asResult(client != nullptr && toClient(client)->announce());
}

QEL_API int connectVoice(QelClient* client, const char* service, const char* pin) {
    return asResult(client != nullptr && toClient(client)->connectVoice(service, pin));
}

QEL_API int disconnect(QelClient* client) {
    return asResult(client != nullptr && toClient(client)->disconnect());
}

QEL_API int dtmf(QelClient* client, int digit) {
    // Only the low byte counts: callers pass the digit as a byte-sized value.
    return asResult(client != nullptr && toClient(client)->dtmf(static_cast<uint8_t>(digit)));
}

QEL_API int command(QelClient* client, int kind, const char* text) {
    return asResult(client != nullptr && toClient(client)->command(kind, text));
}

QEL_API int recvPacket(QelClient* client, const void* bytes, int length, int viaUdp) {
    if (client != nullptr && bytes != nullptr && length > 0) {
        // Only the flag's low byte counts.
        toClient(client)->recvPacket(static_cast<const uint8_t*>(bytes), static_cast<size_t>(length),
                                     (viaUdp & 0xFF) != 0);
    }
    return 0;
}

QEL_API int poll(QelClient* client, PollEvent* event) {
    return asResult(client != nullptr && event != nullptr && toClient(client)->poll(*event));
}

QEL_API int record(QelClient* client, const char* path) {
    return asResult(client != nullptr && toClient(client)->record(path));
}

QEL_API int recordpost(QelClient* client, const char* path) {
    return asResult(client != nullptr && toClient(client)->recordpost(path));
}

QEL_API int audioSetup(QelClient* client, int rate, int frames, int latency) {
    return client != nullptr ? toClient(client)->audioSetup(rate, frames, latency) : 0;
}

QEL_API int audioIO(QelClient* client, const float* const* inputs, int inputCount, float inputGain,
                    float* const* outputs, int outputCount, float outputGain) {
    return asResult(client != nullptr &&
                    toClient(client)->audioIO(inputs, inputCount, inputGain, outputs, outputCount, outputGain));
}

// Arguments that a caller may pass anyway are never read (cdecl: the caller pops them).
QEL_API void loopback(void) {}

QEL_API int setAudioFlag(QelClient* client, int flag, int on) {
    return asResult(client != nullptr && toClient(client)->setAudioFlag(flag, on != 0));
}

QEL_API int getAudioFlag(QelClient* client, int flag) {
    return client != nullptr ? toClient(client)->getAudioFlag(flag) : 0;
}

QEL_API void loglevel(QelClient* client, int level) {
    if (client != nullptr) {
        toClient(client)->log().setLevel(level);
    }
}

QEL_API const LogWalkEntry* logwalk(QelClient* client) {
    return client != nullptr ? toClient(client)->log().walk() : nullptr;
}

QEL_API QelLogManager* LogManager_createLogManager(void) {
    return reinterpret_cast<QelLogManager*>(session::LogManager::create().release());
}

QEL_API void LogManager_freeLogManager(QelLogManager* log) { delete toLog(log); }

QEL_API void LogManager_setLogLevel(QelLogManager* log, int level) {
    if (log != nullptr) {
        toLog(log)->setLevel(level);
    }
}

QEL_API int LogManager_vlog(QelLogManager* log, int level, const char* format, va_list args) {
    if (log == nullptr || format == nullptr) {
        return 0;
    }
    return asResult(toLog(log)->vlog(level, format, args));
}

QEL_API void LogManager_clearLogs(QelLogManager* log) {
    if (log != nullptr) {
        toLog(log)->clear();
    }
}

QEL_API const LogWalkEntry* LogManager_logWalk(QelLogManager* log) {
    return log != nullptr ? toLog(log)->walk() : nullptr;
}

}  // extern "C"
