#include "child_process_win32.h"

namespace elevix::test {

std::wstring testProgramDirectory() {
    std::wstring path(32768, L'\0');
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    path.resize(length);
    return path.substr(0, path.find_last_of(L"\\/"));
}

std::optional<ChildProcess> ChildProcess::start(const std::wstring& commandLine, HANDLE token) {
    std::wstring writable = commandLine;  // CreateProcessW may write into it
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    const BOOL started =
        token != nullptr ? CreateProcessAsUserW(token, nullptr, writable.data(), nullptr, nullptr,
                                                FALSE, 0, nullptr, nullptr, &startup, &info)
                         : CreateProcessW(nullptr, writable.data(), nullptr, nullptr, FALSE, 0,
                                          nullptr, nullptr, &startup, &info);
    if (!started) {
        return std::nullopt;
    }
    CloseHandle(info.hThread);
    return ChildProcess(platform::UniqueHandle(info.hProcess), info.dwProcessId);
}

ChildProcess::~ChildProcess() {
    if (m_process && WaitForSingleObject(m_process.get(), 0) == WAIT_TIMEOUT) {
        TerminateProcess(m_process.get(), 99);
        WaitForSingleObject(m_process.get(), 5000);
    }
}

std::optional<DWORD> ChildProcess::waitForExit(DWORD timeoutMs) {
    if (WaitForSingleObject(m_process.get(), timeoutMs) != WAIT_OBJECT_0) {
        return std::nullopt;
    }
    DWORD code = 0;
    GetExitCodeProcess(m_process.get(), &code);
    return code;
}

namespace {

struct WindowSearch {
    DWORD processId;
    std::vector<HWND> found;
};

BOOL CALLBACK collectVisibleWindow(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<WindowSearch*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == search->processId && IsWindowVisible(window)) {
        search->found.push_back(window);
    }
    return TRUE;
}

}  // namespace

std::vector<HWND> ChildProcess::visibleWindows() const {
    WindowSearch search{m_id, {}};
    EnumWindows(collectVisibleWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND ChildProcess::waitForWindow(const wchar_t* title, DWORD timeoutMs) const {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    do {
        for (HWND window = FindWindowExW(nullptr, nullptr, nullptr, title); window != nullptr;
             window = FindWindowExW(nullptr, window, nullptr, title)) {
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            // A dialog box is shown once its initialisation is over: before that,
            // Wine's message box already has its title but still all of its buttons.
            if (owner == m_id && IsWindowVisible(window)) {
                return window;
            }
        }
        Sleep(50);
    } while (GetTickCount64() < deadline);
    return nullptr;
}

}  // namespace elevix::test
