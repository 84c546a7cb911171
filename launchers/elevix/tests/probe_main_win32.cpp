// A program for Elevix to start. It records how it was started: the STARTUPINFO flags
// and show command it received and its whole command line, written as UTF-16 to the
// file named by ELEVIX_PROBE_RECORD after waiting ELEVIX_PROBE_DELAY_MS, and then exits
// with ELEVIX_PROBE_EXIT. The variables reach it through Elevix's inherited environment.
#include <windows.h>

#include <cwchar>
#include <string>

namespace {

std::wstring environmentValue(const wchar_t* name) {
    wchar_t value[1024];
    const DWORD length = GetEnvironmentVariableW(name, value, 1024);
    return length > 0 && length < 1024 ? std::wstring(value, length) : std::wstring();
}

int environmentNumber(const wchar_t* name) {
    const std::wstring text = environmentValue(name);
    return text.empty() ? 0 : static_cast<int>(std::wcstol(text.c_str(), nullptr, 10));
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    GetStartupInfoW(&startup);
    Sleep(static_cast<DWORD>(environmentNumber(L"ELEVIX_PROBE_DELAY_MS")));

    const std::wstring path = environmentValue(L"ELEVIX_PROBE_RECORD");
    if (!path.empty()) {
        const std::wstring record = std::to_wstring(startup.dwFlags) + L" " +
                                    std::to_wstring(startup.wShowWindow) + L"\n" +
                                    GetCommandLineW();
        HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            DWORD written = 0;
            WriteFile(file, record.data(), static_cast<DWORD>(record.size() * sizeof(wchar_t)),
                      &written, nullptr);
            CloseHandle(file);
        }
    }
    return environmentNumber(L"ELEVIX_PROBE_EXIT");
}
