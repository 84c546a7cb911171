// Result codes of the engine's operations; only the JNI layer turns them into Java
// exceptions.
#pragma once

namespace tallix {

enum class Result : int {
    ok = 0,
    deviceNotFound = 1,  // a device is missing or unsuitable
    busy = 2,            // a call or another stream is already running
    failed = 3,          // unexpected failure
    noCommonRate = 4,    // no rate suits both devices in exclusive mode
    exclusiveFailed = 5  // the exclusive-mode opening failed
};

const char* toText(Result result) noexcept;

}  // namespace tallix
