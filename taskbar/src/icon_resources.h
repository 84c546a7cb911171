// Icon libraries are only ever read: they are mapped as image resources, so that no
// code of theirs runs (no DllMain, no imports resolved), whichever library the search
// order finds under the name the host gave. LoadImageW reads icons from such a
// module as from a loaded one.
//
// Each such load maps a view of the file anew (a data-file load is not reference
// counted the way a loaded library is), so the owner below unmaps it with
// FreeLibrary as soon as the icon is read: an icon loaded without LR_SHARED is a copy
// that outlives the library it came from.
#pragma once

#include <windows.h>

#include "platform/unique_resource.h"

namespace taskbar {

// LoadLibraryExW as an image resource -> FreeLibrary.
struct IconLibraryTraits {
    using Handle = HMODULE;
    static Handle empty() noexcept { return nullptr; }
    static void close(Handle h) noexcept { FreeLibrary(h); }
};
using IconLibrary = platform::UniqueResource<IconLibraryTraits>;

// The icon library at `path`; empty (with the error in GetLastError) when it cannot
// be mapped.
inline IconLibrary loadIconResources(const wchar_t* path) noexcept {
    return IconLibrary(LoadLibraryExW(path, nullptr, LOAD_LIBRARY_AS_IMAGE_RESOURCE | LOAD_LIBRARY_AS_DATAFILE));
}

}  // namespace taskbar
