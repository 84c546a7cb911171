// The library's outer edge for exceptions: every JNI method and the pipe server's
// thread and completion routines run their work through guarded(), so that no C++
// exception reaches the Java VM or unwinds through a Windows thread or APC frame
// (either ends the process). What is caught is printed, as the library's other
// diagnostics are, and the caller gets its neutral value.
#pragma once

#include <cstdio>
#include <exception>

namespace taskbar {

template <typename T, typename Body>
T guarded(const char* where, T fallback, Body&& body) noexcept {
    try {
        return body();
    } catch (const std::exception& e) {
        std::printf("%s stopped by an exception: %s\n", where, e.what());
    } catch (...) {
        std::printf("%s stopped by an exception\n", where);
    }
    std::fflush(stdout);
    return fallback;
}

template <typename Body>
void guarded(const char* where, Body&& body) noexcept {
    (void)guarded(where, 0, [&] {
        body();
        return 0;
    });
}

}  // namespace taskbar
