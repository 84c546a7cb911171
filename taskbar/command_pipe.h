// The named pipe through which command lines reach the running client: Taskelle serves
// it, Hushlet (and any other local program) writes to it.
#pragma once

namespace zephra {

inline constexpr const wchar_t* kCommandPipeName = L"\\\\.\\pipe\\zephracommspipe";

}  // namespace zephra
