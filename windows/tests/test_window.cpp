#include "test_window.h"

#include <gtest/gtest.h>

#include <cstring>

#include "windows/vistrel.h"

namespace vistrel_test {
namespace {

constexpr wchar_t kClassName[] = L"VistrelTestWindow";

void paintPattern(HWND window, HDC dc) {
    const auto* colours = reinterpret_cast<const Colours*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (colours == nullptr) {
        return;
    }
    RECT rc;
    GetClientRect(window, &rc);
    auto fill = [dc](RECT r, COLORREF c) {
        HBRUSH brush = CreateSolidBrush(c);
        FillRect(dc, &r, brush);
        DeleteObject(brush);
    };
    const LONG middle = rc.top + (rc.bottom - rc.top) / 2;
    fill({rc.left, rc.top, rc.right, middle}, colours->top);
    fill({rc.left, middle, rc.right, rc.bottom}, colours->bottom);
    fill({rc.right - 1, rc.top, rc.right, rc.bottom}, colours->edge);
}

LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wp, LPARAM lp) {
    switch (message) {
    case WM_ERASEBKGND:
    case WM_PRINTCLIENT:
        paintPattern(window, reinterpret_cast<HDC>(wp));
        return 1;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(window, &ps);
        paintPattern(window, dc);
        EndPaint(window, &ps);
        return 0;
    }
    default:
        return DefWindowProcW(window, message, wp, lp);
    }
}

void registerClassOnce() {
    static const ATOM atom = [] {
        WNDCLASSW wc{};
        wc.lpfnWndProc = windowProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = kClassName;
        wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
        return RegisterClassW(&wc);
    }();
    (void)atom;
}

// Without a window manager on the test display, Wine waits up to two seconds for one
// to acknowledge every window it hides or destroys. The test programs tell Wine's X11
// driver (through its per-program settings) to manage their windows itself, before the
// first window exists. Nothing changes on Windows, or for other programs in the prefix.
class UnmanagedWineWindows : public ::testing::Environment {
public:
    void SetUp() override {
        if (GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") == nullptr) {
            return;
        }
        for (const wchar_t* program :
             {L"vistrel_test.exe", L"vistrel_test_app_icon.exe", L"vistrel_test_app_plain.exe"}) {
            const std::wstring key =
                std::wstring(L"Software\\Wine\\AppDefaults\\") + program + L"\\X11 Driver";
            HKEY hkey = nullptr;
            if (RegCreateKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                                nullptr, &hkey, nullptr) == ERROR_SUCCESS) {
                RegSetValueExW(hkey, L"Managed", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"N"),
                               2 * sizeof(wchar_t));
                RegCloseKey(hkey);
            }
        }
    }
};

[[maybe_unused]] ::testing::Environment* const unmanagedWindows =
    ::testing::AddGlobalTestEnvironment(new UnmanagedWineWindows);

}  // namespace

TestWindow::TestWindow(const WindowSetup& setup) : m_colours(std::make_unique<Colours>(setup.colours)) {
    registerClassOnce();
    const RECT& r = setup.rect;
    m_window = CreateWindowExW(setup.exStyle, kClassName, setup.title.c_str(), setup.style, r.left,
                               r.top, r.right - r.left, r.bottom - r.top, setup.owner, nullptr,
                               GetModuleHandleW(nullptr), nullptr);
    if (m_window != nullptr) {
        SetWindowLongPtrW(m_window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(m_colours.get()));
    }
}

TestWindow::~TestWindow() { destroy(); }

void TestWindow::showOnTop() {
    ShowWindow(m_window, SW_SHOW);
    SetWindowPos(m_window, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW);
    SetForegroundWindow(m_window);
    RedrawWindow(m_window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_UPDATENOW);
    pumpMessages();
}

void TestWindow::destroy() {
    if (m_window != nullptr) {
        DestroyWindow(m_window);
        m_window = nullptr;
        pumpMessages(20);
    }
}

void pumpMessages(int ms) {
    const DWORD end = GetTickCount() + static_cast<DWORD>(ms);
    do {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        Sleep(5);
    } while (static_cast<LONG>(end - GetTickCount()) > 0);
}

int displayDepth() {
    HDC screen = GetDC(nullptr);
    const int depth = GetDeviceCaps(screen, BITSPIXEL) * GetDeviceCaps(screen, PLANES);
    ReleaseDC(nullptr, screen);
    return depth;
}

COLORREF onDisplay(COLORREF colour) {
    return displayDepth() == 16 ? (colour & 0xF8F8F8) : colour;
}

std::vector<vistrel::WindowDataRecord> listWindows(bool geometryOnly) {
    void* block = reinterpret_cast<void*>(1);
    const std::int32_t count = getOpenWindowsData(&block, geometryOnly ? 1 : 0);
    std::vector<vistrel::WindowDataRecord> records(static_cast<std::size_t>(count));
    if (count > 0) {
        std::memcpy(records.data(), block, records.size() * sizeof(vistrel::WindowDataRecord));
    }
    freeImageBuffer(block);
    return records;
}

const vistrel::WindowDataRecord* findRecord(const std::vector<vistrel::WindowDataRecord>& list,
                                            HWND window) {
    for (const auto& record : list) {
        if (record.window == static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(window))) {
            return &record;
        }
    }
    return nullptr;
}

std::wstring programDirectory() {
    wchar_t path[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dir(path, n);
    return dir.substr(0, dir.find_last_of(L"\\/") + 1);
}

ChildApp::ChildApp(const std::wstring& program, const std::wstring& title) {
    std::wstring commandLine = L"\"" + programDirectory() + program + L"\" \"" + title + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &m_info)) {
        return;
    }
    for (int i = 0; i < 500 && m_window == nullptr; ++i) {
        m_window = FindWindowW(nullptr, title.c_str());
        pumpMessages(20);
    }
    pumpMessages();
}

ChildApp::~ChildApp() {
    if (m_info.hProcess == nullptr) {
        return;
    }
    if (m_window != nullptr) {
        PostMessageW(m_window, WM_CLOSE, 0, 0);
    }
    if (WaitForSingleObject(m_info.hProcess, 5000) != WAIT_OBJECT_0) {
        TerminateProcess(m_info.hProcess, 1);
        WaitForSingleObject(m_info.hProcess, 5000);
    }
    CloseHandle(m_info.hThread);
    CloseHandle(m_info.hProcess);
}

}  // namespace vistrel_test
