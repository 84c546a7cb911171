// Vistrel: window list, window state and window, application and icon images for the
// Java host's application sharing. Plain C entry points with undecorated names; the
// library keeps no state, and every entry point may be called from any thread.
//
// Every block returned (window lists, pixel buffers) belongs to the caller and is given
// back with freeImageBuffer.
#pragma once

#include <windows.h>

#include <cstdint>

#ifdef VISTREL_BUILDING
#define VISTREL_API extern "C" __declspec(dllexport)
#else
#define VISTREL_API extern "C" __declspec(dllimport)
#endif

// Always 8.
VISTREL_API std::int32_t GetVersionNumber();

// Always 284: the bytes of one window data record (windows/window_record.h).
VISTREL_API std::int32_t getWindowsDataSize();

// Lists the visible top-level windows below the topmost one, in Z order. Stores an array
// of records through list (null when there is none or it cannot be allocated) and
// returns their count. Only the low 8 bits of geometryOnly count: nonzero lists every
// visible window with an empty title, zero lists titled windows under the title of
// their root owner.
VISTREL_API std::int32_t getOpenWindowsData(void** list, std::uint32_t geometryOnly);

// The foreground window, or null.
VISTREL_API HWND getActiveWindow();

// Shows the window and makes it the foreground, focused, top window. Nonzero when every
// step succeeded; 0 at the first step that fails. Setting the focus fails for a window of
// another thread, and when no window of the calling thread had the focus.
VISTREL_API std::int32_t setForegroundWindow(HWND window);

// 1 when the window is minimized, else 0.
VISTREL_API std::uint8_t isWindowIconized(HWND window);

// 1 when window is owned by other (root owner), is contained in it, or runs in the
// same process; else 0 (also for null handles).
VISTREL_API std::int32_t isWindowRelated(HWND window, HWND other);

// The whole window rectangle (frame included) in screen pixels. 1 on success; 0 with
// the outputs left untouched when the window's information cannot be read.
VISTREL_API std::uint8_t getWindowBoundaries(HWND window, std::int32_t* left, std::int32_t* top,
                                             std::int32_t* right, std::int32_t* bottom);

// Pictures as RGBA rows, top row first, width * 4 bytes a row. The three outputs are
// always written: size is the number of bytes in the buffer (it can exceed
// width * height * 4, see rgbaBufferBytes in dib_layout.h). On any failure the
// placeholder: 16 x 16, 1024 bytes, all zero.
//
// What the screen shows inside the window's rectangle (covering windows included).
VISTREL_API std::uint8_t* getWindowImage(HWND window, std::uint32_t* width, std::uint32_t* height,
                                         std::uint32_t* size);
// What the window draws when asked to render itself.
VISTREL_API std::uint8_t* getApplicationImage(HWND window, std::uint32_t* width,
                                              std::uint32_t* height, std::uint32_t* size);
// The large icon of the program that owns the window; alpha 0 where its mask is set.
VISTREL_API std::uint8_t* getIcon(HWND window, std::uint32_t* width, std::uint32_t* height,
                                  std::uint32_t* size);

// Releases a block returned by this library; null is ignored.
VISTREL_API void freeImageBuffer(void* block);
