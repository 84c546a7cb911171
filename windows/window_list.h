// The window list and the small window queries behind the exported entry points.
#pragma once

#include <windows.h>

#include <cstdint>

#include "windows/host_block.h"

namespace vistrel {

// The window handle as stored in a record: USER handles are 32-bit significant.
std::uint32_t toRecordHandle(HWND window) noexcept;
HWND fromRecordHandle(std::uint32_t handle) noexcept;

struct WindowList {
    HostBlock records;  // count WindowDataRecords; empty when there are none
    std::uint32_t count = 0;
};

// The visible top-level windows below the topmost one, in Z order (see vistrel.h).
WindowList listWindows(bool geometryOnly) noexcept;

// The whole window rectangle, or false when the window's information cannot be read.
bool windowRect(HWND window, RECT& rect) noexcept;

bool isRelated(HWND window, HWND other) noexcept;

// ShowWindowAsync, SetForegroundWindow, SetFocus, BringWindowToTop; 0 at the first that
// fails, else what BringWindowToTop returned.
std::int32_t bringToFront(HWND window) noexcept;

}  // namespace vistrel
