// The engine's outer edge for exceptions: JNI methods and the bodies of the engine's
// own threads run their work through guarded(), so that no C++ exception reaches the
// Java VM or the end of a thread (either would end the process). What is caught is
// logged at level 1 with the place it stopped, and the caller gets its neutral value.
#pragma once

#include <exception>
#include <type_traits>

#include "engine/engine_log.h"

namespace tallix {

// Runs `body` and returns its result, or `fallback` when it throws. `log` may be null
// (an engine that could not be created has none); the message is then dropped.
template <typename T, typename Body>
T guarded(EngineLog* log, const char* where, T fallback, Body&& body) noexcept {
    try {
        return body();
    } catch (const std::exception& e) {
        if (log != nullptr) {
            log->log(kSevere, "%s stopped by an exception: %s", where, e.what());
        }
    } catch (...) {
        if (log != nullptr) {
            log->log(kSevere, "%s stopped by an exception", where);
        }
    }
    return fallback;
}

// For work without a result: true when `body` returned, false when it threw.
template <typename Body>
bool guarded(EngineLog* log, const char* where, Body&& body) noexcept {
    static_assert(std::is_void_v<decltype(body())>);
    return guarded(log, where, false, [&] {
        body();
        return true;
    });
}

}  // namespace tallix
