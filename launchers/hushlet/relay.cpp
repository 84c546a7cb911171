#include "launchers/hushlet/relay.h"

#include <windows.h>

#include <string>

#include "platform/win32_handle.h"

namespace hushlet {
namespace {

constexpr DWORD kBusyWaitMs = 20000;
constexpr DWORD kReplyBufferBytes = 1024;

// An open client end of the pipe, waiting for a free instance while all are busy.
platform::UniqueFileHandle openPipe() {
    for (;;) {
        platform::UniqueFileHandle pipe(
            CreateFileW(kPipeName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                        // The server may only identify us, never act as us: a process that
                        // made the pipe name first must not be able to impersonate the user.
                        SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr));
        if (pipe || GetLastError() != ERROR_PIPE_BUSY) {
            return pipe;
        }
        if (!WaitNamedPipeW(kPipeName, kBusyWaitMs)) {
            return {};
        }
    }
}

}  // namespace

int relay(std::wstring_view text) {
    platform::UniqueFileHandle pipe = openPipe();
    if (!pipe) {
        return -1;
    }
    DWORD mode = PIPE_READMODE_MESSAGE;
    if (!SetNamedPipeHandleState(pipe.get(), &mode, nullptr, nullptr)) {
        return -1;
    }
    const std::wstring message(text);  // c_str() supplies the terminating zero unit
    const auto bytes = static_cast<DWORD>((message.size() + 1) * sizeof(wchar_t));
    DWORD written = 0;
    if (!WriteFile(pipe.get(), message.c_str(), bytes, &written, nullptr)) {
        return -1;
    }
    char reply[kReplyBufferBytes];
    for (;;) {
        DWORD read = 0;
        if (ReadFile(pipe.get(), reply, kReplyBufferBytes, &read, nullptr)) {
            return 0;
        }
        if (GetLastError() != ERROR_MORE_DATA) {
            return -1;
        }
    }
}

}  // namespace hushlet
