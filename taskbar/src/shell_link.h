// Shell links that make up the jump list's entries (Windows only).
#pragma once

#include <shobjidl.h>

#include "taskbar/src/com_ptr.h"
#include "taskbar/src/jump_list_entry.h"

namespace taskbar {

inline constexpr const wchar_t* kTaskRunnerName = L"ZephraTaskRunner.exe";

// A link that starts the task runner in the process's current directory with the
// entry's arguments, titled with its label, and with its icon taken from the icon
// library under "native\" of the current directory when that loads, otherwise from
// the current directory itself. For a separator entry, a separator link.
[[nodiscard]] HRESULT buildShellLink(const JumpListEntry& entry, ComPtr<IShellLinkW>& link);

}  // namespace taskbar
