#include "taskbar/src/taskbar_window.h"

#include <shobjidl.h>

#include <cstdio>

#include "platform/unique_resource.h"
#include "platform/win32_handle.h"
#include "taskbar/src/com_ptr.h"
#include "taskbar/src/icon_resources.h"
#include "taskbar/src/shell_ids.h"

namespace taskbar {
namespace {

using platform::UniqueIcon;

// The longest path the icon library load is given, with room for its terminating zero.
constexpr std::size_t kMaxPathChars = MAX_PATH;

// The icon library under "native\" or, failing that, by the name alone. Empty when
// neither maps; the icon load then fails and reports it.
IconLibrary loadIconLibrary(const std::optional<std::wstring>& name) {
    if (!name) {
        std::printf("No icon library name given\n");
        return {};
    }
    const std::wstring underNative = L"native\\" + *name;
    if (underNative.size() >= kMaxPathChars) {
        std::printf("Icon library name too long\n");
        return {};
    }
    IconLibrary library = loadIconResources(underNative.c_str());
    if (!library) {
        library = loadIconResources(name->c_str());
    }
    if (!library) {
        std::printf("LoadLibrary Failed : %lu\n", GetLastError());
    }
    return library;
}

HRESULT createTaskbarList(ComPtr<ITaskbarList3>& list) {
    return CoCreateInstance(kClsidTaskbarList, nullptr, CLSCTX_INPROC_SERVER, kIidTaskbarList3, list.putVoid());
}

}  // namespace

void initialiseProcessIdentity() {
    // COM stays initialised on this thread: later overlay calls from it rely on it.
    if (FAILED(CoInitialize(nullptr))) {
        std::printf("Error initialising COM\n");
    }
    if (FAILED(SetCurrentProcessExplicitAppUserModelID(kAppUserModelId))) {
        std::printf("Error Setting AppUserModelID\n");
    }
}

void setOverlay(HWND window, const std::optional<std::wstring>& libraryName, int iconNumber) {
    const auto resourceId = static_cast<WORD>(iconNumber + kFirstOverlayIconId);
    UniqueIcon icon;
    {
        // The icon is a copy of its own: the library is unmapped once it is read.
        const IconLibrary library = loadIconLibrary(libraryName);
        icon.reset(static_cast<HICON>(
            LoadImageW(library.get(), MAKEINTRESOURCEW(resourceId), IMAGE_ICON, 16, 16, LR_DEFAULTCOLOR)));
        if (!icon) {
            std::printf("Icon (%d) Loading Failed : %lu\n", iconNumber + kFirstOverlayIconId, GetLastError());
        }
    }
    if (window == nullptr) {
        std::printf("HWND == NULL\n");
    }
    ComPtr<ITaskbarList3> list;
    if (FAILED(createTaskbarList(list))) {
        return;
    }
    // The taskbar keeps its own copy of the icon, so ours is destroyed on return.
    if (FAILED(list->SetOverlayIcon(window, icon.get(), kOverlayDescription))) {
        std::printf("setOverlayIcon failed\n");
    }
}

HRESULT clearOverlay(HWND window) {
    ComPtr<ITaskbarList3> list;
    const HRESULT hr = createTaskbarList(list);
    if (FAILED(hr)) {
        return hr;
    }
    return list->SetOverlayIcon(window, nullptr, L"");
}

void flashWindow(HWND window) {
#ifndef _WIN64
    static_assert(sizeof(FLASHWINFO) == 20, "the 32-bit FLASHWINFO is 20 bytes");
#endif
    FLASHWINFO info{};
    info.cbSize = sizeof(info);
    info.hwnd = window;
    info.dwFlags = FLASHW_ALL | FLASHW_TIMERNOFG;
    info.uCount = 5;
    info.dwTimeout = 0;  // the cursor's blink rate
    FlashWindowEx(&info);
    std::fflush(stdout);
}

}  // namespace taskbar
