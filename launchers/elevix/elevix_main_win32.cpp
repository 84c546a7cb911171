// Elevix: starts a program through the shell with administrator rights and waits
// for it to end.
//
//   Elevix.exe <exe-name> <exe-args...>
//
// Exit code 0: the program was started and has ended (its own exit code is not passed
// on). Exit code 1: no program was given (after a usage message box), or the shell did
// not start it, for instance because the user declined the elevation prompt.
#include <windows.h>

#include <shellapi.h>

#include <new>
#include <span>
#include <string>

#include "launchers/elevix/admin_check.h"
#include "launchers/elevix/parameters.h"
#include "launchers/elevix/verb.h"
#include "platform/unique_resource.h"
#include "platform/win32_handle.h"

namespace {

constexpr int kExitStarted = 0;
constexpr int kExitFailed = 1;

// The argument vector of CommandLineToArgvW is one LocalAlloc block.
struct ArgvTraits {
    using Handle = LPWSTR*;
    static Handle empty() noexcept { return nullptr; }
    static void close(Handle argv) noexcept { LocalFree(argv); }
};
using UniqueArgv = platform::UniqueResource<ArgvTraits>;

void showUsage() {
    // MB_SERVICE_NOTIFICATION: the box appears on the active desktop even when the
    // launcher was started from a service or another session.
    MessageBoxW(nullptr, L"Usage:\nelevix.exe <exe-name> <exe-args>", L"Elevix",
                MB_ICONERROR | MB_SERVICE_NOTIFICATION);
}

int launch(std::span<const wchar_t* const> arguments) {
    const std::wstring parameters = elevix::joinParameters(arguments.subspan(2));
    const wchar_t* verb = elevix::verbFor(elevix::checkAdministratorsMembership());

    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof(info);
    // NO_UI: a program that cannot be started is reported by the exit code only.
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
    info.hwnd = nullptr;
    info.lpVerb = verb;
    info.lpFile = arguments[1];
    info.lpParameters = parameters.c_str();
    info.lpDirectory = nullptr;
    info.nShow = SW_HIDE;
    if (!ShellExecuteExW(&info)) {
        return kExitFailed;
    }
    // The shell may hand the request to a program that is already running (a DDE
    // conversation) and then returns no process; there is nothing to wait for.
    platform::UniqueHandle process(info.hProcess);
    if (process) {
        WaitForSingleObject(process.get(), INFINITE);
    }
    return kExitStarted;
}

}  // namespace

#if defined(_M_IX86) || defined(__i386__)
// The layout the shell expects from a 32-bit caller.
static_assert(sizeof(SHELLEXECUTEINFOW) == 60);
#endif
static_assert((SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI) == 0x540);
static_assert((MB_ICONERROR | MB_SERVICE_NOTIFICATION) == 0x200010);

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    int count = 0;
    UniqueArgv argv(CommandLineToArgvW(GetCommandLineW(), &count));
    if (!argv || count < 2) {
        showUsage();
        return kExitFailed;
    }
    const wchar_t* const* arguments = argv.get();
    try {
        return launch(std::span(arguments, static_cast<std::size_t>(count)));
    } catch (const std::bad_alloc&) {
        return kExitFailed;
    }
}
