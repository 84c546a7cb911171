// The session library's exported entry points as a table of function pointers, for
// callers that load the library at run time (the voice engine, the call tool) instead of
// linking it. Every slot is typed from its declaration in qel_api.h, so a caller cannot
// call an entry point with a signature other than the library's own.
#pragma once

#include <string>

#include "platform/dynamic_library.h"
#include "session/qel_api.h"

namespace session {

// X(slot, export name), in the voice engine's resolution order.
#define QEL_ENTRY_POINTS(X)                                \
    X(version, version)                                    \
    X(getClient, getClient)                                \
    X(freeClient, freeClient)                              \
    X(command, command)                                    \
    X(dtmf, dtmf)                                          \
    X(announce, announce)                                  \
    X(connectVoice, connectVoice)                          \
    X(disconnect, disconnect)                              \
    X(active, active)                                      \
    X(reset, reset)                                        \
    X(setAudioFlag, setAudioFlag)                          \
    X(getAudioFlag, getAudioFlag)                          \
    X(audioSetup, audioSetup)                              \
    X(audioIO, audioIO)                                    \
    X(loopback, loopback)                                  \
    X(poll, poll)                                          \
    X(recvPacket, recvPacket)                              \
    X(record, record)                                      \
    X(recordpost, recordpost)                              \
    X(loglevel, loglevel)                                  \
    X(logwalk, logwalk)                                    \
    X(createLogManager, LogManager_createLogManager)       \
    X(setLogLevel, LogManager_setLogLevel)                 \
    X(freeLogManager, LogManager_freeLogManager)           \
    X(vlog, LogManager_vlog)                               \
    X(clearLogs, LogManager_clearLogs)                     \
    X(logWalk, LogManager_logWalk)

struct QelEntryPoints {
#define QEL_ENTRY_SLOT(slot, name) decltype(&::name) slot = nullptr;
    QEL_ENTRY_POINTS(QEL_ENTRY_SLOT)
#undef QEL_ENTRY_SLOT
};

#define QEL_ENTRY_COUNT(slot, name) +1
inline constexpr int kQelEntryPointCount = 0 QEL_ENTRY_POINTS(QEL_ENTRY_COUNT);
#undef QEL_ENTRY_COUNT
static_assert(sizeof(QelEntryPoints) == kQelEntryPointCount * sizeof(void*));

// Export names in slot order.
inline constexpr const char* kQelEntryPointNames[] = {
#define QEL_ENTRY_NAME(slot, name) #name,
    QEL_ENTRY_POINTS(QEL_ENTRY_NAME)
#undef QEL_ENTRY_NAME
};

// Resolves every entry point of `library` into `table`, in slot order. Stops at the
// first missing name, which goes into `missing`, and returns false; slots already
// resolved keep their addresses.
inline bool resolveEntryPoints(const platform::DynamicLibrary& library, QelEntryPoints& table,
                               std::string* missing = nullptr) noexcept {
    // Each address is converted to its slot's own type; function and object pointers
    // share one representation on every platform the callers run on (POSIX requires it
    // for dlsym, and GetProcAddress returns function addresses as such).
#define QEL_ENTRY_RESOLVE(slot, name)                                                    \
    if (void* address = library.symbol(#name)) {                                        \
        table.slot = reinterpret_cast<decltype(table.slot)>(address);                   \
    } else {                                                                            \
        if (missing != nullptr) {                                                       \
            *missing = #name;                                                           \
        }                                                                               \
        return false;                                                                   \
    }
    QEL_ENTRY_POINTS(QEL_ENTRY_RESOLVE)
#undef QEL_ENTRY_RESOLVE
    return true;
}

}  // namespace session
