// Real top-level windows for the Wine tests: created at known places, painted in known
// colours, destroyed with their owner object.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "windows/window_record.h"

namespace vistrel_test {

// The client area is painted top half `top`, bottom half `bottom`, and its rightmost
// column `edge`, both when the window paints and when it is asked to print itself.
struct Colours {
    COLORREF top = RGB(255, 0, 0);
    COLORREF bottom = RGB(0, 0, 255);
    COLORREF edge = RGB(0, 255, 0);
};

struct WindowSetup {
    std::wstring title;
    RECT rect{100, 100, 300, 200};  // screen coordinates
    DWORD style = WS_POPUP;
    DWORD exStyle = 0;
    HWND owner = nullptr;
    Colours colours;
};

class TestWindow {
public:
    explicit TestWindow(const WindowSetup& setup);
    ~TestWindow();
    TestWindow(const TestWindow&) = delete;
    TestWindow& operator=(const TestWindow&) = delete;

    HWND get() const { return m_window; }
    // Shows the window on top of the others and lets it paint.
    void showOnTop();
    // Destroys the window now (the handle then names no window).
    void destroy();

private:
    std::unique_ptr<Colours> m_colours;
    HWND m_window = nullptr;
};

// Runs this thread's messages for about `ms` milliseconds, so that windows paint and
// Wine puts what they painted on the display.
void pumpMessages(int ms = 200);

// The display's bits per pixel as GDI reports them (32 on a 24-bit X display).
int displayDepth();

// What a colour becomes on this display: 5 bits a channel at depth 16.
COLORREF onDisplay(COLORREF colour);

// Records of the window list, copied out of the block (which is released).
std::vector<vistrel::WindowDataRecord> listWindows(bool geometryOnly);
const vistrel::WindowDataRecord* findRecord(const std::vector<vistrel::WindowDataRecord>& list,
                                            HWND window);

// The directory of this test program, with a trailing backslash.
std::wstring programDirectory();

// A helper program (built beside the tests) that shows one window with the given title,
// paints it and waits until it is closed. Closed and waited for on destruction.
class ChildApp {
public:
    ChildApp(const std::wstring& program, const std::wstring& title);
    ~ChildApp();
    ChildApp(const ChildApp&) = delete;
    ChildApp& operator=(const ChildApp&) = delete;

    HWND window() const { return m_window; }
    DWORD processId() const { return m_info.dwProcessId; }

private:
    PROCESS_INFORMATION m_info{};
    HWND m_window = nullptr;
};

}  // namespace vistrel_test
