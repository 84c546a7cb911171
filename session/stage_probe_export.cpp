// The one entry point that the benchmarks' build of the session library adds to the
// shipped ones: the client's latency stamps (session/audio/stage_probe.h), so that a
// benchmark loading the library at run time can arm them and read them.
#include "session/audio/stage_probe.h"
#include "session/qel_api.h"
#include "session/voice_client.h"

extern "C" QEL_API void* stageProbe(QelClient* client) {
    return client != nullptr ? &reinterpret_cast<session::VoiceClient*>(client)->stageProbe() : nullptr;
}
