// Hushlet: hands its own command line to the running Zephra client through the
// client's command pipe and exits. It shows nothing; without a running client it ends
// quietly. The window is created (never shown) so that the program has the
// identity of a normal GUI program; no message loop runs.
#include <windows.h>

#include "launchers/hushlet/command_line.h"
#include "launchers/hushlet/relay.h"
#include "launchers/hushlet/resource.h"

namespace {

constexpr int kMaxLoadString = 100;

LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

ATOM registerWindowClass(HINSTANCE instance, const wchar_t* className) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = windowProc;
    wc.hInstance = instance;
    wc.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_HUSHLET));
    wc.hIconSm = LoadIconW(instance, MAKEINTRESOURCEW(IDI_SMALL));
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszMenuName = MAKEINTRESOURCEW(IDC_HUSHLET);
    wc.lpszClassName = className;
    return RegisterClassExW(&wc);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    wchar_t title[kMaxLoadString] = {};
    wchar_t className[kMaxLoadString] = {};
    LoadStringW(instance, IDS_APP_TITLE, title, kMaxLoadString);
    LoadStringW(instance, IDC_HUSHLET, className, kMaxLoadString);
    registerWindowClass(instance, className);

    HWND window = CreateWindowExW(0, className, title, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, 0, CW_USEDEFAULT, 0,
                                  nullptr, nullptr, instance, nullptr);
    if (window != nullptr) {
        const auto* commandLine = reinterpret_cast<const char16_t*>(GetCommandLineW());
        const std::u16string_view arguments = hushlet::argumentsOf(commandLine);
        // The relay's outcome is nobody's business: the exit code is always 0.
        hushlet::relay(std::wstring_view(reinterpret_cast<const wchar_t*>(arguments.data()), arguments.size()));
    }
    return 0;
}
