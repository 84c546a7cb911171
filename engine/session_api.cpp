#include "engine/session_api.h"

#include <cstring>

namespace tallix {

const char* const kSessionApiNames[kSessionApiEntries] = {"version",
                                                          "getClient",
                                                          "freeClient",
                                                          "command",
                                                          "dtmf",
                                                          "announce",
                                                          "connectVoice",
                                                          "disconnect",
                                                          "active",
                                                          "reset",
                                                          "setAudioFlag",
                                                          "getAudioFlag",
                                                          "audioSetup",
                                                          "audioIO",
                                                          "loopback",
                                                          "poll",
                                                          "recvPacket",
                                                          "record",
                                                          "recordpost",
                                                          "loglevel",
                                                          "logwalk",
                                                          "LogManager_createLogManager",
                                                          "LogManager_setLogLevel",
                                                          "LogManager_freeLogManager",
                                                          "LogManager_vlog",
                                                          "LogManager_clearLogs",
                                                          "LogManager_logWalk"};

std::string defaultSessionLibraryPath() {
#ifdef _WIN32
    // Relative, so LoadLibraryW's standard search order resolves it.
    return "native\\" + platform::sharedLibraryFileName("qel");
#else
    return "native/" + platform::sharedLibraryFileName("qel");
#endif
}

QelClient* SessionBinding::bind(const std::string& path) {
    if (!m_bound) {
        platform::DynamicLibrary library = platform::DynamicLibrary::open(path);
        if (!library) {
            return nullptr;
        }
        void* slots[kSessionApiEntries] = {};
        for (int i = 0; i < kSessionApiEntries; ++i) {
            slots[i] = library.symbol(kSessionApiNames[i]);
            if (slots[i] == nullptr) {
                return nullptr;  // the incomplete library is unloaded here
            }
        }
        // Function and object pointers share one representation on every platform the
        // engine runs on (POSIX requires it for dlsym); the table is filled in one copy.
        std::memcpy(&m_api, slots, sizeof(m_api));
        // Never unloaded: the audio callback and the call thread of any engine may still
        // be inside it while the process ends.
        library.release();
        m_bound = true;
    }
    return m_api.getClient();
}

}  // namespace tallix
