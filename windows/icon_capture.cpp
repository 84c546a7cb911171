#include <windows.h>
// After windows.h, which they rely on.
#include <psapi.h>
#include <shellapi.h>

#include "platform/win32_handle.h"
#include "windows/capture.h"
#include "windows/dib_reader.h"
#include "windows/gdi_owners.h"

namespace vistrel {
namespace {

constexpr DWORD kPathBytes = MAX_PATH;

// The full ANSI path of the main executable of the process that owns the window; an
// empty block when it cannot be read.
HostBlock programPath(HWND window) noexcept {
    DWORD processId = 0;
    if (GetWindowThreadProcessId(window, &processId) == 0 || processId == 0) {
        return {};
    }
    const platform::UniqueHandle process(
        OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId));
    if (!process) {
        return {};
    }
    HostBlock path = HostBlock::allocateZeroed(kPathBytes);
    if (!path) {
        return {};
    }
    auto* text = reinterpret_cast<char*>(path.data());
    const DWORD length = GetModuleFileNameExA(process.get(), nullptr, text, kPathBytes);
    // A result equal to the buffer size means the path was cut short.
    if (length == 0 || length >= kPathBytes) {
        return {};
    }
    return path;
}

// The bitmaps that GetIconInfo hands out belong to the caller.
struct IconBitmaps {
    GdiBitmap colour;
    GdiBitmap mask;
};

}  // namespace

std::optional<RgbaImage> captureProgramIcon(HWND window) noexcept {
    if (window == nullptr) {
        return std::nullopt;
    }
    const HostBlock path = programPath(window);
    if (!path) {
        return std::nullopt;
    }
    const char* file = reinterpret_cast<const char*>(path.data());
    const WindowDc screen = WindowDc::get(nullptr);
    if (!screen) {
        return std::nullopt;
    }
    if (ExtractIconExA(file, -1, nullptr, nullptr, 1) == 0) {
        return std::nullopt;
    }
    HICON largeRaw = nullptr;
    HICON smallRaw = nullptr;
    const UINT extracted = ExtractIconExA(file, 0, &largeRaw, &smallRaw, 1);
    // Owned whatever the count says, so that nothing extracted is left behind.
    const IconHandle largeIcon(largeRaw);
    const IconHandle smallIcon(smallRaw);
    if (extracted != 2 || !largeIcon) {
        return std::nullopt;
    }

    ICONINFO iconInfo{};
    if (!GetIconInfo(largeIcon.get(), &iconInfo)) {
        return std::nullopt;
    }
    const IconBitmaps bitmaps{GdiBitmap(iconInfo.hbmColor), GdiBitmap(iconInfo.hbmMask)};
    // A monochrome icon has no colour bitmap: nothing to show in colour.
    if (!bitmaps.colour || !bitmaps.mask) {
        return std::nullopt;
    }
    const std::optional<DibHeader> header = DibHeader::fromBitmap(bitmaps.colour.get());
    if (!header) {
        return std::nullopt;
    }
    const HostBlock colourBits = readDibBits(screen.get(), bitmaps.colour.get(), *header);
    if (!colourBits) {
        return std::nullopt;
    }
    // The same header for the mask, so that it arrives in the colour bitmap's depth
    // and layout: set mask bits become white pixels.
    const HostBlock maskBits = readDibBits(screen.get(), bitmaps.mask.get(), *header);
    if (!maskBits) {
        return std::nullopt;
    }
    return toRgba(*header, colourBits, &maskBits);
}

}  // namespace vistrel
