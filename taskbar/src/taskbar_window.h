// The taskbar button of the host's window: application identity, overlay icon and
// flashing.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

namespace taskbar {

inline constexpr const wchar_t* kAppUserModelId = L"zephra.taskbar";
inline constexpr const wchar_t* kOverlayDescription = L"Away";
// Icon number n of an icon library is its icon resource n + 101.
inline constexpr int kFirstOverlayIconId = 101;

// Initialises COM on the calling thread and gives the process its application
// identity; failures are printed and do not stop the rest.
void initialiseProcessIdentity();

// Puts icon number `iconNumber` of the icon library `libraryName` (looked up under
// "native\" first, then by the standard search order) on the taskbar button of
// `window`. A library or icon that cannot be loaded leaves a null icon, which removes
// the overlay. Needs COM on the calling thread.
void setOverlay(HWND window, const std::optional<std::wstring>& libraryName, int iconNumber);

// Removes the overlay from the button of `window`; the HRESULT of the last COM call.
HRESULT clearOverlay(HWND window);

// Flashes the window's caption and taskbar button five times, or until the window
// comes to the foreground.
void flashWindow(HWND window);

}  // namespace taskbar
