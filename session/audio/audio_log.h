// Where the audio pipeline writes its messages.
//
// The session client passes its own log here; the pipeline never formats into a
// console or a file. Implementations must be callable from the audio callback thread
// and the call thread at once, and must not block for long (the client's log takes
// bounded spin locks).
#pragma once

#include <cstdarg>

#include "session/format_check.h"

namespace qel {

class AudioLog {
public:
    virtual ~AudioLog() = default;

    // Levels: 1 severe ... 5 finest.
    virtual void vlog(int level, const char* format, va_list args) = 0;

    // A message folded per second through repeat slot `slot` (0 "Network underrun",
    // 1 "Jitter buffer packet inserted").
    virtual void vlogRepeated(int slot, int level, const char* format, va_list args) = 0;

    QEL_PRINTF_FORMAT(3, 4)
    void log(int level, const char* format, ...) {
        va_list args;
        va_start(args, format);
        vlog(level, format, args);
        va_end(args);
    }

    QEL_PRINTF_FORMAT(4, 5)
    void logRepeated(int slot, int level, const char* format, ...) {
        va_list args;
        va_start(args, format);
        vlogRepeated(slot, level, format, args);
        va_end(args);
    }
};

}  // namespace qel
