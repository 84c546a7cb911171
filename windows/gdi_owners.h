// One owner type per release function for the GDI and USER objects that a capture
// takes. Declared in the order of acquisition, they are released in reverse: the
// selection is undone before its bitmap and memory context go, and window device
// contexts are released to the window they came from last.
#pragma once

#include <windows.h>

#include <utility>

#include "platform/unique_resource.h"
#include "platform/win32_handle.h"

namespace vistrel {

// CreateCompatibleDC -> DeleteDC.
struct MemoryDcTraits {
    using Handle = HDC;
    static Handle empty() noexcept { return nullptr; }
    static void close(Handle h) noexcept { DeleteDC(h); }
};
using MemoryDc = platform::UniqueResource<MemoryDcTraits>;

// CreateCompatibleBitmap, and the bitmaps GetIconInfo hands out -> DeleteObject.
struct BitmapTraits {
    using Handle = HBITMAP;
    static Handle empty() noexcept { return nullptr; }
    static void close(Handle h) noexcept { DeleteObject(h); }
};
using GdiBitmap = platform::UniqueResource<BitmapTraits>;

// ExtractIconEx -> DestroyIcon.
using IconHandle = platform::UniqueIcon;

// GetDC / GetDCEx -> ReleaseDC with the same window (null for the screen).
class WindowDc {
public:
    WindowDc() noexcept = default;
    WindowDc(HWND window, HDC dc) noexcept : m_window(window), m_dc(dc) {}
    ~WindowDc() { reset(); }
    WindowDc(WindowDc&& other) noexcept
        : m_window(other.m_window), m_dc(std::exchange(other.m_dc, nullptr)) {}
    WindowDc& operator=(WindowDc&& other) noexcept {
        if (this != &other) {
            reset();
            m_window = other.m_window;
            m_dc = std::exchange(other.m_dc, nullptr);
        }
        return *this;
    }
    WindowDc(const WindowDc&) = delete;
    WindowDc& operator=(const WindowDc&) = delete;

    static WindowDc get(HWND window) noexcept { return WindowDc(window, GetDC(window)); }
    static WindowDc getEx(HWND window, DWORD flags) noexcept {
        return WindowDc(window, GetDCEx(window, nullptr, flags));
    }

    HDC get() const noexcept { return m_dc; }
    explicit operator bool() const noexcept { return m_dc != nullptr; }

private:
    void reset() noexcept {
        if (m_dc != nullptr) {
            ReleaseDC(m_window, std::exchange(m_dc, nullptr));
        }
    }

    HWND m_window = nullptr;
    HDC m_dc = nullptr;
};

// SelectObject, undone by selecting the previous object back.
class Selection {
public:
    Selection(HDC dc, HGDIOBJ object) noexcept : m_dc(dc), m_previous(SelectObject(dc, object)) {
        // SelectObject reports failure as null (or HGDI_ERROR for regions).
        if (m_previous == HGDI_ERROR) {
            m_previous = nullptr;
        }
    }
    ~Selection() {
        if (m_previous != nullptr) {
            SelectObject(m_dc, m_previous);
        }
    }
    Selection(const Selection&) = delete;
    Selection& operator=(const Selection&) = delete;

    explicit operator bool() const noexcept { return m_previous != nullptr; }

private:
    HDC m_dc;
    HGDIOBJ m_previous;
};

}  // namespace vistrel
