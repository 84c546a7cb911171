// winlist: shows what Vistrel.dll gives the Java host, from a console.
//
//   winlist [--demo] [--geometry] [OUTPUT.bmp [TITLE-PART]]
//
// Loads Vistrel.dll from its own directory and binds the entry points by name, as the
// host does; prints the window list (titles and rectangles) and, with OUTPUT.bmp,
// writes the window image of the first listed window whose title contains TITLE-PART
// (or of the first listed window) to that file. --demo first shows two painted windows
// of its own, so that an empty desktop (a fresh display) has something to list and
// capture; --geometry lists in geometry-only mode.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "platform/dynamic_library.h"
#include "windows/window_record.h"

namespace {

using GetOpenWindowsData = std::int32_t (*)(void**, std::uint32_t);
using CaptureFn = std::uint8_t* (*)(HWND, std::uint32_t*, std::uint32_t*, std::uint32_t*);
using FreeBlock = void (*)(void*);
using VersionFn = std::int32_t (*)();

struct Vistrel {
    platform::DynamicLibrary library;
    VersionFn version = nullptr;
    GetOpenWindowsData list = nullptr;
    CaptureFn windowImage = nullptr;
    FreeBlock release = nullptr;

    template <typename Fn>
    Fn bind(const char* name) const {
        return reinterpret_cast<Fn>(library.symbol(name));
    }

    bool load() {
        char path[MAX_PATH];
        const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
        std::string dll(path, n);
        dll = dll.substr(0, dll.find_last_of("\\/") + 1) + "Vistrel.dll";
        library = platform::DynamicLibrary::open(dll);
        if (!library) {
            return false;
        }
        version = bind<VersionFn>("GetVersionNumber");
        list = bind<GetOpenWindowsData>("getOpenWindowsData");
        windowImage = bind<CaptureFn>("getWindowImage");
        release = bind<FreeBlock>("freeImageBuffer");
        return version && list && windowImage && release;
    }
};

LRESULT CALLBACK demoProc(HWND window, UINT message, WPARAM wp, LPARAM lp) {
    if (message == WM_ERASEBKGND) {
        RECT rc;
        GetClientRect(window, &rc);
        HDC dc = reinterpret_cast<HDC>(wp);
        // Eight vertical bars in the colours of a test card.
        const COLORREF bars[] = {RGB(255, 255, 255), RGB(255, 255, 0), RGB(0, 255, 255),
                                 RGB(0, 255, 0),     RGB(255, 0, 255), RGB(255, 0, 0),
                                 RGB(0, 0, 255),     RGB(0, 0, 0)};
        for (int i = 0; i < 8; ++i) {
            RECT bar{rc.right * i / 8, 0, rc.right * (i + 1) / 8, rc.bottom};
            HBRUSH brush = CreateSolidBrush(bars[i]);
            FillRect(dc, &bar, brush);
            DeleteObject(brush);
        }
        return 1;
    }
    return DefWindowProcW(window, message, wp, lp);
}

void showDemoWindows() {
    WNDCLASSW wc{};
    wc.lpfnWndProc = demoProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"WinlistDemo";
    RegisterClassW(&wc);
    // Two windows: the topmost window of the desktop is never listed, so the one to
    // capture lies below another.
    for (const auto& [title, x, y] : {std::tuple{L"winlist demo: back", 40, 40},
                                      std::tuple{L"winlist demo: front", 420, 300}}) {
        HWND w = CreateWindowExW(0, wc.lpszClassName, title, WS_OVERLAPPEDWINDOW | WS_VISIBLE, x,
                                 y, 320, 200, nullptr, nullptr, wc.hInstance, nullptr);
        UpdateWindow(w);
    }
    for (int i = 0; i < 60; ++i) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            DispatchMessageW(&msg);
        }
        Sleep(10);
    }
}

// A 24-bit bottom-up BMP of the RGBA pixels (alpha dropped).
bool writeBmp(const char* path, const std::uint8_t* rgba, std::uint32_t width,
              std::uint32_t height) {
    const std::uint32_t row = (width * 3 + 3) & ~3u;
    BITMAPFILEHEADER file{};
    BITMAPINFOHEADER info{};
    file.bfType = 0x4D42;  // "BM"
    file.bfOffBits = sizeof file + sizeof info;
    file.bfSize = file.bfOffBits + row * height;
    info.biSize = sizeof info;
    info.biWidth = static_cast<LONG>(width);
    info.biHeight = static_cast<LONG>(height);
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biCompression = BI_RGB;
    info.biSizeImage = row * height;
    FILE* out = std::fopen(path, "wb");
    if (out == nullptr) {
        return false;
    }
    std::fwrite(&file, sizeof file, 1, out);
    std::fwrite(&info, sizeof info, 1, out);
    std::vector<std::uint8_t> line(row, 0);
    for (std::uint32_t y = height; y-- > 0;) {
        for (std::uint32_t x = 0; x < width; ++x) {
            const std::uint8_t* p = rgba + (std::size_t{y} * width + x) * 4;
            line[x * 3] = p[2];
            line[x * 3 + 1] = p[1];
            line[x * 3 + 2] = p[0];
        }
        std::fwrite(line.data(), 1, row, out);
    }
    return std::fclose(out) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    bool demo = false;
    bool geometryOnly = false;
    std::vector<const char*> rest;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--demo") == 0) {
            demo = true;
        } else if (std::strcmp(argv[i], "--geometry") == 0) {
            geometryOnly = true;
        } else {
            rest.push_back(argv[i]);
        }
    }
    Vistrel vistrel;
    if (!vistrel.load()) {
        std::fprintf(stderr, "winlist: cannot load Vistrel.dll beside winlist.exe\n");
        return 1;
    }
    if (demo) {
        showDemoWindows();
    }

    void* block = nullptr;
    const std::int32_t count = vistrel.list(&block, geometryOnly ? 1 : 0);
    const auto* records = static_cast<const vistrel::WindowDataRecord*>(block);
    std::printf("Vistrel %d: %d window(s)%s\n", vistrel.version(), count,
                geometryOnly ? " (geometry only)" : "");
    std::printf("%-10s %-8s %-28s %s\n", "handle", "state", "left,top - right,bottom", "title");
    HWND chosen = nullptr;
    const char* wanted = rest.size() > 1 ? rest[1] : nullptr;
    for (std::int32_t i = 0; i < count; ++i) {
        const auto& r = records[i];
        char rect[64];
        std::snprintf(rect, sizeof rect, "%d,%d - %d,%d", r.left, r.top, r.right, r.bottom);
        std::printf("0x%08x %-8s %-28s %s\n", r.window, r.iconized ? "minim." : "shown", rect,
                    r.title);
        const bool matches = wanted == nullptr || std::strstr(r.title, wanted) != nullptr;
        if (chosen == nullptr && matches && !r.iconized) {
            chosen = reinterpret_cast<HWND>(static_cast<std::uintptr_t>(r.window));
        }
    }
    vistrel.release(block);

    if (rest.empty()) {
        return 0;
    }
    if (chosen == nullptr) {
        std::fprintf(stderr, "winlist: no listed window to capture\n");
        return 1;
    }
    std::uint32_t width = 0, height = 0, size = 0;
    std::uint8_t* pixels = vistrel.windowImage(chosen, &width, &height, &size);
    const bool written = pixels != nullptr && writeBmp(rest[0], pixels, width, height);
    vistrel.release(pixels);
    if (!written) {
        std::fprintf(stderr, "winlist: cannot write %s\n", rest[0]);
        return 1;
    }
    std::printf("window 0x%08x: %u x %u pixels (%u bytes) written to %s%s\n",
                static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(chosen)), width, height,
                size, rest[0], width == 16 && height == 16 ? " (the placeholder: capture failed)" : "");
    return 0;
}
