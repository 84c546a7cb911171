// The session library's entry points as the voice engine calls them: a table of 27
// function pointers resolved by name from the library loaded at run time.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <string>

#include "platform/dynamic_library.h"
#include "session/qel_api.h"

namespace tallix {

// One slot per export, in resolution order. The engine never links against the
// session library; everything goes through this table once it is bound.
struct SessionApi {
    const char* (*version)();
    QelClient* (*getClient)();
    void (*freeClient)(QelClient*);
    int (*command)(QelClient*, int, const char*);
    int (*dtmf)(QelClient*, int);
    int (*announce)(QelClient*);
    int (*connectVoice)(QelClient*, const char*, const char*);
    int (*disconnect)(QelClient*);
    int (*active)(QelClient*);
    void (*reset)(QelClient*);
    int (*setAudioFlag)(QelClient*, int, int);
    int (*getAudioFlag)(QelClient*, int);
    int (*audioSetup)(QelClient*, int, int, int);
    int (*audioIO)(QelClient*, float**, int, float, float**, int, float);
    void (*loopback)(QelClient*);
    int (*poll)(QelClient*, PollEvent*);
    int (*recvPacket)(QelClient*, const void*, int, int);
    int (*record)(QelClient*, const char*);
    int (*recordpost)(QelClient*, const char*);
    void (*loglevel)(QelClient*, int);
    const LogWalkEntry* (*logwalk)(QelClient*);
    QelLogManager* (*createLogManager)();
    void (*setLogLevel)(QelLogManager*, int);
    void (*freeLogManager)(QelLogManager*);
    int (*vlog)(QelLogManager*, int, const char*, va_list);
    void (*clearLogs)(QelLogManager*);
    const LogWalkEntry* (*logWalk)(QelLogManager*);
};

inline constexpr int kSessionApiEntries = 27;
static_assert(sizeof(SessionApi) == kSessionApiEntries * sizeof(void*));

// Export names in the order of the SessionApi slots.
extern const char* const kSessionApiNames[kSessionApiEntries];

// The session library file as the host lays it out beside itself, relative to the
// process's current directory: native/libqel.so, native\qel.dll.
std::string defaultSessionLibraryPath();

// Loads the session library once and keeps it loaded for the life of the process.
// Not thread-safe: the host binds from one thread before anything else runs; once
// bound, api() is only read, from any thread.
class SessionBinding {
  public:
    // Loads `path` unless already bound, resolves all 27 names, then calls getClient
    // and returns its result (null on any failure). A library that lacks a name is
    // unloaded again, so a later run starts over from the load.
    QelClient* bind(const std::string& path);

    bool bound() const noexcept { return m_bound; }
    const SessionApi& api() const noexcept { return m_api; }

  private:
    SessionApi m_api{};
    bool m_bound = false;
};

}  // namespace tallix
