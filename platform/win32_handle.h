// Owners of kernel handles, modules and icons (Windows only).
#pragma once

#include <windows.h>

#include "platform/unique_resource.h"

namespace platform {

// Handles closed with CloseHandle whose empty value is null (threads, events,
// processes, pipes from CreateFile...).
struct KernelHandleTraits {
    using Handle = HANDLE;
    static Handle empty() noexcept { return nullptr; }
    static void close(Handle h) noexcept { CloseHandle(h); }
};
using UniqueHandle = UniqueResource<KernelHandleTraits>;

// Handles whose failure value is INVALID_HANDLE_VALUE (CreateFileW, CreateNamedPipeW).
struct FileHandleTraits {
    using Handle = HANDLE;
    static Handle empty() noexcept { return INVALID_HANDLE_VALUE; }
    static void close(Handle h) noexcept { CloseHandle(h); }
};
using UniqueFileHandle = UniqueResource<FileHandleTraits>;

// Modules from LoadLibraryW, released with FreeLibrary.
struct ModuleTraits {
    using Handle = HMODULE;
    static Handle empty() noexcept { return nullptr; }
    static void close(Handle h) noexcept { FreeLibrary(h); }
};
using UniqueModule = UniqueResource<ModuleTraits>;

// Icons from ExtractIconEx, LoadImage or CreateIconIndirect, released with DestroyIcon.
struct IconTraits {
    using Handle = HICON;
    static Handle empty() noexcept { return nullptr; }
    static void close(Handle h) noexcept { DestroyIcon(h); }
};
using UniqueIcon = UniqueResource<IconTraits>;

}  // namespace platform
