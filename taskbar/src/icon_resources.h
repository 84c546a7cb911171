// Icon libraries are only ever read: they are mapped as image resources, so that no
// code of theirs runs (no DllMain, no imports resolved), whichever library the search
// order finds under the name the host gave. LoadImageW reads icons from such a
// module as from a loaded one; FreeLibrary releases it.
#pragma once

#include <windows.h>

namespace taskbar {

inline HMODULE loadIconResources(const wchar_t* path) noexcept {
    return LoadLibraryExW(path, nullptr, LOAD_LIBRARY_AS_IMAGE_RESOURCE | LOAD_LIBRARY_AS_DATAFILE);
}

}  // namespace taskbar
