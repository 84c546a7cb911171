#include "windows/window_list.h"

#include <cstring>
#include <new>
#include <vector>

#include "windows/window_record.h"

namespace vistrel {
namespace {

// The title as GetWindowTextA gives it: at most 255 characters and a NUL.
struct Title {
    char text[kTitleBytes]{};
    int length = 0;
};

Title readTitle(HWND window) noexcept {
    Title title;
    const int n = GetWindowTextA(window, title.text, static_cast<int>(kTitleBytes));
    title.length = n > 0 ? n : 0;
    title.text[title.length] = '\0';
    return title;
}

// Position and state of one window. A minimized window's rectangle is not read (it is
// parked off screen while minimized); its fields are zero.
bool fillGeometry(HWND window, WindowDataRecord& record) noexcept {
    if (window == nullptr) {
        return false;
    }
    std::memset(&record, 0, sizeof record);
    if (IsIconic(window)) {
        record.iconized = 1;
    } else {
        RECT rect{};
        if (!windowRect(window, rect)) {
            return false;
        }
        record.top = rect.top;
        record.bottom = rect.bottom;
        record.left = rect.left;
        record.right = rect.right;
    }
    record.window = toRecordHandle(window);
    return true;
}

// Titled windows are listed under the title of their root owner, so that a dialog or
// palette shows up as part of its application.
bool fillTitled(HWND window, WindowDataRecord& record) noexcept {
    if (readTitle(window).length == 0) {
        return false;
    }
    const HWND rootOwner = GetAncestor(window, GA_ROOTOWNER);
    if (rootOwner == nullptr) {
        return false;
    }
    const Title ownerTitle = readTitle(rootOwner);
    if (ownerTitle.length == 0 || !fillGeometry(window, record)) {
        return false;
    }
    std::memcpy(record.title, ownerTitle.text, static_cast<std::size_t>(ownerTitle.length) + 1);
    record.titleLength = ownerTitle.length;
    return true;
}

}  // namespace

std::uint32_t toRecordHandle(HWND window) noexcept {
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(window));
}

HWND fromRecordHandle(std::uint32_t handle) noexcept {
    // Sign-extended, as 64-bit Windows does when a 32-bit process hands a handle on.
    return reinterpret_cast<HWND>(static_cast<std::intptr_t>(static_cast<std::int32_t>(handle)));
}

WindowList listWindows(bool geometryOnly) noexcept {
    WindowList list;
    const HWND topmost = GetTopWindow(nullptr);
    if (topmost == nullptr) {
        return list;
    }
    std::vector<WindowDataRecord> found;
    try {
        // The topmost window itself is never listed: it is normally the host's own
        // window or a system overlay.
        for (HWND w = GetWindow(topmost, GW_HWNDNEXT); w != nullptr; w = GetWindow(w, GW_HWNDNEXT)) {
            if (!IsWindowVisible(w)) {
                continue;
            }
            WindowDataRecord record;
            const bool listed = geometryOnly ? fillGeometry(w, record) : fillTitled(w, record);
            if (listed) {
                found.push_back(record);
            }
        }
    } catch (const std::bad_alloc&) {
        return list;
    }
    list.records = HostBlock::allocate(found.size() * sizeof(WindowDataRecord));
    if (!list.records) {
        return list;
    }
    if (!found.empty()) {
        std::memcpy(list.records.data(), found.data(), found.size() * sizeof(WindowDataRecord));
    }
    list.count = static_cast<std::uint32_t>(found.size());
    return list;
}

bool windowRect(HWND window, RECT& rect) noexcept {
    WINDOWINFO info{};
    info.cbSize = sizeof info;
    static_assert(sizeof(WINDOWINFO) == 60);
    if (!GetWindowInfo(window, &info)) {
        return false;
    }
    rect = info.rcWindow;
    return true;
}

bool isRelated(HWND window, HWND other) noexcept {
    if (window == nullptr || other == nullptr) {
        return false;
    }
    if (GetAncestor(window, GA_ROOTOWNER) == other || IsChild(other, window)) {
        return true;
    }
    DWORD otherProcess = 0;
    DWORD windowProcess = 0;
    if (GetWindowThreadProcessId(other, &otherProcess) == 0 ||
        GetWindowThreadProcessId(window, &windowProcess) == 0) {
        return false;
    }
    return otherProcess == windowProcess;
}

std::int32_t bringToFront(HWND window) noexcept {
    // SetFocus answers with the window that had the focus before, so a null answer
    // also means "nobody of this thread had it"; the chain stops there all the same.
    if (!ShowWindowAsync(window, SW_SHOW) || !SetForegroundWindow(window) ||
        SetFocus(window) == nullptr) {
        return 0;
    }
    return BringWindowToTop(window);
}

}  // namespace vistrel
