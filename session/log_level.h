// Log levels of the session library's messages and of the voice engine's, which the Java
// host maps to its own: smaller is more important; a log keeps the messages whose level
// is between 1 and its own level.
#pragma once

#include <cstdint>

namespace session {

enum LogLevel : int32_t {
    kLogSevere = 1,
    kLogWarning = 2,
    kLogInfo = 3,
    kLogFine = 4,
    kLogFinest = 5,
};

}  // namespace session
