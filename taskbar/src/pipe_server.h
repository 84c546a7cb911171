// The command pipe server: command lines written to "\\.\pipe\zephracommspipe" by
// any local program become onJumpListClick calls on the Java host.
#pragma once

#include "taskbar/command_pipe.h"

namespace taskbar {

inline constexpr const wchar_t* kPipeName = zephra::kCommandPipeName;

// Starts the server thread. It serves every connection from that one thread, so the
// host's callback is never entered twice at once, and it runs until the process ends.
// Returns false (with a printed message) when the thread cannot be started.
bool startPipeServer();

}  // namespace taskbar
