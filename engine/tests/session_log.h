// The real session library's log manager behind an EngineLog, for tests that read what
// the engine logged. Loads the built library (QEL_LIBRARY_PATH) by absolute path.
#pragma once

#include <string>
#include <vector>

#include "engine/engine_log.h"
#include "platform/dynamic_library.h"

namespace tallix::testing {

class SessionLog {
  public:
    SessionLog();
    ~SessionLog();

    EngineLog& log() { return m_log; }
    // Every message logged since the last call, each as "LEVEL|text" with the time
    // stamp of the entry cut off.
    std::vector<std::string> take();
    bool contains(const std::string& needle);

  private:
    platform::DynamicLibrary m_library;
    SessionApi m_api{};
    QelLogManager* m_manager = nullptr;
    EngineLog m_log;
    std::vector<std::string> m_seen;
};

}  // namespace tallix::testing
