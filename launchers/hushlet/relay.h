// Relaying a command line into the running client's command pipe.
#pragma once

#include <string_view>

#include "taskbar/command_pipe.h"

namespace hushlet {

inline constexpr const wchar_t* kPipeName = zephra::kCommandPipeName;

// Writes `text` and its terminating zero unit as one message to the pipe and waits
// for the server's empty reply, so that the client has dealt with the text when this
// returns. 0 on success, -1 when there is no server or any step fails.
int relay(std::wstring_view text);

}  // namespace hushlet
