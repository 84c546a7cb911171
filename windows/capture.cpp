#include "windows/capture.h"

#include "windows/dib_reader.h"
#include "windows/gdi_owners.h"

namespace vistrel {
namespace {

// The source of the pixels and the point of the window's corner in it. Declared so that
// the device contexts outlive what is copied from them.
struct Source {
    WindowDc dc;
    POINT origin{};
};

std::optional<Source> openScreenSource(const RECT& windowRect) noexcept {
    // Reading the screen only makes sense while something is in front.
    if (GetForegroundWindow() == nullptr) {
        return std::nullopt;
    }
    const HWND desktop = GetDesktopWindow();
    if (desktop == nullptr) {
        return std::nullopt;
    }
    Source source{WindowDc::get(desktop), {windowRect.left, windowRect.top}};
    if (!source.dc) {
        return std::nullopt;
    }
    return source;
}

std::optional<Source> openApplicationSource(HWND window) noexcept {
    // The window renders itself into its own window context; the copy then starts at
    // (0, 0) of that context, which is the window's top-left corner.
    Source source{WindowDc::getEx(window, DCX_WINDOW), {0, 0}};
    if (!source.dc || !PrintWindow(window, source.dc.get(), 0)) {
        return std::nullopt;
    }
    return source;
}

}  // namespace

std::optional<RgbaImage> captureWindow(HWND window, CaptureSource kind) noexcept {
    if (window == nullptr || !IsWindow(window)) {
        return std::nullopt;
    }
    RECT client{};
    if (!GetClientRect(window, &client)) {
        return std::nullopt;
    }
    WINDOWINFO info{};
    info.cbSize = sizeof info;
    static_assert(sizeof(WINDOWINFO) == 60);
    if (!GetWindowInfo(window, &info)) {
        return std::nullopt;
    }
    const LONG width = info.rcWindow.right - info.rcWindow.left;
    const LONG height = info.rcWindow.bottom - info.rcWindow.top;
    if (width <= 0 || height <= 0) {
        return std::nullopt;
    }

    const WindowDc windowDc = WindowDc::getEx(window, DCX_WINDOW);
    if (!windowDc) {
        return std::nullopt;
    }
    const MemoryDc memoryDc(CreateCompatibleDC(windowDc.get()));
    if (!memoryDc) {
        return std::nullopt;
    }
    const std::optional<Source> source = kind == CaptureSource::Screen
                                             ? openScreenSource(info.rcWindow)
                                             : openApplicationSource(window);
    if (!source) {
        return std::nullopt;
    }
    // Compatible with the source, so the bitmap has the display's colour depth.
    const GdiBitmap bitmap(CreateCompatibleBitmap(source->dc.get(), width, height));
    if (!bitmap) {
        return std::nullopt;
    }
    {
        const Selection selected(memoryDc.get(), bitmap.get());
        if (!selected || !BitBlt(memoryDc.get(), 0, 0, width, height, source->dc.get(),
                                 source->origin.x, source->origin.y, SRCCOPY)) {
            return std::nullopt;
        }
    }
    // GetDIBits needs the bitmap out of every device context, so the selection above
    // has been undone by now.
    const std::optional<DibHeader> header = DibHeader::fromBitmap(bitmap.get());
    if (!header) {
        return std::nullopt;
    }
    const HostBlock bits = readDibBits(memoryDc.get(), bitmap.get(), *header);
    if (!bits) {
        return std::nullopt;
    }
    return toRgba(*header, bits, nullptr);
}

}  // namespace vistrel
