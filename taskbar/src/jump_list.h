// The jump list of the host's taskbar button: a process-wide list of entries, and the
// rebuild that makes the shell's jump list mirror it after every change.
#pragma once

#include <windows.h>

#include <vector>

#include "taskbar/src/jump_list_entry.h"

namespace taskbar {

// Each of these changes the entry list and rebuilds the jump list, printing the
// operation's message when the rebuild fails (the entry list keeps the change; the
// shell keeps the previous jump list until a rebuild succeeds). Safe to call from
// any thread; COM is initialised on the calling thread.
void addJumpListEntry(JumpListEntry entry);
void addJumpListSeparator();
void clearJumpList();
void closeJumpList();

// Builds the jump list from `entries` in one BeginList..CommitList transaction:
// entries with a category go into one custom category named after the first of them,
// the others (and the separators) become the tasks, in order. Exposed for tests.
[[nodiscard]] HRESULT rebuildJumpList(const std::vector<JumpListEntry>& entries);

}  // namespace taskbar
