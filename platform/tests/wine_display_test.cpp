// The Windows test run has a real display: a top-level window can be created, shown,
// found by its title, painted and read back. Every GUI test of the Windows build
// relies on this.
#include <windows.h>

#include <gtest/gtest.h>

namespace {

LRESULT CALLBACK redWindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_ERASEBKGND) {
        RECT rc;
        GetClientRect(hwnd, &rc);
        HBRUSH brush = CreateSolidBrush(RGB(255, 0, 0));
        FillRect(reinterpret_cast<HDC>(wp), &rc, brush);
        DeleteObject(brush);
        return 1;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

void pumpMessages() {
    MSG msg;
    for (int i = 0; i < 50; ++i) {
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        Sleep(10);
    }
}

TEST(WineDisplay, RealWindowIsShownFoundAndPainted) {
    WNDCLASSW wc{};
    wc.lpfnWndProc = redWindowProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"ZephraDisplayProbe";
    ASSERT_NE(RegisterClassW(&wc), 0);
    HWND hwnd = CreateWindowExW(WS_EX_TOPMOST, wc.lpszClassName, L"Zephra display probe",
                                WS_POPUP | WS_VISIBLE, 40, 40, 120, 80, nullptr, nullptr,
                                wc.hInstance, nullptr);
    ASSERT_NE(hwnd, nullptr);
    UpdateWindow(hwnd);
    pumpMessages();

    EXPECT_TRUE(IsWindowVisible(hwnd));
    EXPECT_EQ(FindWindowW(nullptr, L"Zephra display probe"), hwnd);
    RECT rc{};
    ASSERT_TRUE(GetWindowRect(hwnd, &rc));
    EXPECT_EQ(rc.right - rc.left, 120);
    EXPECT_EQ(rc.bottom - rc.top, 80);

    // What the screen shows inside the window is the window's red background.
    HDC screen = GetDC(nullptr);
    ASSERT_NE(screen, nullptr);
    const COLORREF pixel = GetPixel(screen, rc.left + 60, rc.top + 40);
    const int depth = GetDeviceCaps(screen, BITSPIXEL);
    ReleaseDC(nullptr, screen);
    EXPECT_EQ(pixel, RGB(255, 0, 0));
    EXPECT_GE(depth, 16);

    DestroyWindow(hwnd);
    UnregisterClassW(wc.lpszClassName, wc.hInstance);
}

}  // namespace
