// A small program for the Vistrel tests: shows one window titled by its argument,
// painted in one colour, until the window is closed (or two minutes have passed). It is
// built once with a known icon and once without any.
#include <windows.h>
#include <shellapi.h>

namespace {

LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wp, LPARAM lp) {
    switch (message) {
    case WM_ERASEBKGND: {
        RECT rc;
        GetClientRect(window, &rc);
        HBRUSH brush = CreateSolidBrush(RGB(255, 255, 0));
        FillRect(reinterpret_cast<HDC>(wp), &rc, brush);
        DeleteObject(brush);
        return 1;
    }
    case WM_TIMER:
    case WM_CLOSE:
        DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcW(window, message, wp, lp);
    }
}

}  // namespace

int main() {
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argv == nullptr || argc < 2) {
        return 2;
    }
    WNDCLASSW wc{};
    wc.lpfnWndProc = windowProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"VistrelTestApp";
    if (RegisterClassW(&wc) == 0) {
        return 1;
    }
    HWND window = CreateWindowExW(0, wc.lpszClassName, argv[1], WS_POPUP | WS_VISIBLE, 600, 400,
                                  120, 90, nullptr, nullptr, wc.hInstance, nullptr);
    LocalFree(argv);
    if (window == nullptr) {
        return 1;
    }
    SetTimer(window, 1, 120000, nullptr);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return 0;
}
