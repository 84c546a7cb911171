// Window and application images.
#pragma once

#include <windows.h>

#include <optional>

#include "windows/host_block.h"

namespace vistrel {

enum class CaptureSource {
    Screen,       // what the screen shows inside the window's rectangle
    Application,  // what the window draws when asked to print itself
};

// Nothing on any failure (the caller hands out the placeholder instead). Every device
// context, bitmap and buffer taken is released before returning.
std::optional<RgbaImage> captureWindow(HWND window, CaptureSource source) noexcept;

// The large icon of the program that owns the window, with alpha 0 where the icon's
// mask is set. Nothing on any failure, including a program without icons.
std::optional<RgbaImage> captureProgramIcon(HWND window) noexcept;

}  // namespace vistrel
