// Test support: a program started with CreateProcessW, its windows and its end.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/win32_handle.h"

namespace elevix::test {

// The directory of the running test program, without a trailing backslash.
std::wstring testProgramDirectory();

class ChildProcess {
  public:
    // Starts the command line as written (the caller quotes) with the test's own
    // environment; with a token, the program runs with that token instead of the
    // test's (CreateProcessAsUserW).
    static std::optional<ChildProcess> start(const std::wstring& commandLine,
                                             HANDLE token = nullptr);

    ChildProcess(ChildProcess&&) noexcept = default;
    ChildProcess& operator=(ChildProcess&&) noexcept = default;
    // A child still running at the end of a test is ended, so one failure does not
    // leave windows behind for the next test.
    ~ChildProcess();

    DWORD id() const { return m_id; }
    // The exit code, or nothing if the program has not ended within the time.
    std::optional<DWORD> waitForExit(DWORD timeoutMs);
    // The child's visible top-level windows.
    std::vector<HWND> visibleWindows() const;
    // The child's visible top-level window with this exact title, waited for up to the
    // time.
    HWND waitForWindow(const wchar_t* title, DWORD timeoutMs) const;

  private:
    ChildProcess(platform::UniqueHandle process, DWORD id)
        : m_process(std::move(process)), m_id(id) {}

    platform::UniqueHandle m_process;
    DWORD m_id = 0;
};

}  // namespace elevix::test
