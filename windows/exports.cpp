// The exported entry points: thin wrappers that turn every failure into the documented
// result. Nothing below throws; allocation failures come back as empty blocks.
#define VISTREL_BUILDING
#include "windows/vistrel.h"

#include <cstdlib>

#include "zephra_version.h"

#include "windows/capture.h"
#include "windows/window_list.h"
#include "windows/window_record.h"

namespace {

constexpr std::int32_t kVersion = ZEPHRA_WINDOW_HELPERS_INTERFACE;

std::uint8_t* deliver(std::optional<vistrel::RgbaImage> image, std::uint32_t* width,
                      std::uint32_t* height, std::uint32_t* size) noexcept {
    return vistrel::handOver(image ? std::move(*image) : vistrel::RgbaImage{}, width, height,
                             size);
}

}  // namespace

VISTREL_API std::int32_t GetVersionNumber() { return kVersion; }

VISTREL_API std::int32_t getWindowsDataSize() {
    return static_cast<std::int32_t>(sizeof(vistrel::WindowDataRecord));
}

VISTREL_API std::int32_t getOpenWindowsData(void** list, std::uint32_t geometryOnly) {
    vistrel::WindowList windows = vistrel::listWindows((geometryOnly & 0xFFu) != 0);
    // Written even when nothing is listed, so that a caller which always releases what
    // it got never frees garbage.
    if (list != nullptr) {
        *list = windows.records.release();
    }
    return static_cast<std::int32_t>(windows.count);
}

VISTREL_API HWND getActiveWindow() { return GetForegroundWindow(); }

VISTREL_API std::int32_t setForegroundWindow(HWND window) { return vistrel::bringToFront(window); }

VISTREL_API std::uint8_t isWindowIconized(HWND window) { return IsIconic(window) ? 1 : 0; }

VISTREL_API std::int32_t isWindowRelated(HWND window, HWND other) {
    return vistrel::isRelated(window, other) ? 1 : 0;
}

VISTREL_API std::uint8_t getWindowBoundaries(HWND window, std::int32_t* left, std::int32_t* top,
                                             std::int32_t* right, std::int32_t* bottom) {
    RECT rect{};
    if (!vistrel::windowRect(window, rect)) {
        return 0;
    }
    for (auto [out, value] : {std::pair{left, rect.left}, std::pair{top, rect.top},
                              std::pair{right, rect.right}, std::pair{bottom, rect.bottom}}) {
        if (out != nullptr) {
            *out = value;
        }
    }
    return 1;
}

VISTREL_API std::uint8_t* getWindowImage(HWND window, std::uint32_t* width, std::uint32_t* height,
                                         std::uint32_t* size) {
    return deliver(vistrel::captureWindow(window, vistrel::CaptureSource::Screen), width, height,
                   size);
}

VISTREL_API std::uint8_t* getApplicationImage(HWND window, std::uint32_t* width,
                                              std::uint32_t* height, std::uint32_t* size) {
    return deliver(vistrel::captureWindow(window, vistrel::CaptureSource::Application), width,
                   height, size);
}

VISTREL_API std::uint8_t* getIcon(HWND window, std::uint32_t* width, std::uint32_t* height,
                                  std::uint32_t* size) {
    return deliver(vistrel::captureProgramIcon(window), width, height, size);
}

VISTREL_API void freeImageBuffer(void* block) { std::free(block); }
