// The session library's entry points as the voice engine calls them: a table of 27
// function pointers resolved by name from the library loaded at run time.
#pragma once

#include <string>

#include "platform/dynamic_library.h"
#include "session/qel_entry_points.h"

namespace tallix {

// One slot per export, in resolution order, each typed from the library's own
// declaration. The engine never links against the session library; everything goes
// through this table once it is bound.
using SessionApi = session::QelEntryPoints;

inline constexpr int kSessionApiEntries = session::kQelEntryPointCount;
static_assert(kSessionApiEntries == 27);

// The session library file as the host lays it out beside itself, relative to the
// process's current directory: native/libqel.so, native\qel.dll.
std::string defaultSessionLibraryPath();

// Where the engine loads the session library from: native\qel.dll (native/libqel.so)
// in the folder of the engine's own file, by its full path, when that file exists;
// otherwise the relative defaultSessionLibraryPath(), for a host that keeps the engine
// apart from native\. The relative path goes through the loader's search, which takes
// in the current directory, so a library planted under the folder a user starts the
// client from would be found; the full path takes only the file installed with the
// engine. A file beside the engine that fails to load is not replaced by the search.
std::string sessionLibraryPath();

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
