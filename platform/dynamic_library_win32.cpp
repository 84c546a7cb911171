#include <windows.h>

#include "platform/dynamic_library.h"
#include "platform/utf.h"

namespace platform {

DynamicLibrary DynamicLibrary::open(const std::string& utf8Path, std::string* error) {
    const std::u16string wide = utf8ToUtf16(utf8Path);
    HMODULE module = LoadLibraryW(reinterpret_cast<const wchar_t*>(wide.c_str()));
    if (module == nullptr && error != nullptr) {
        *error = "LoadLibraryW failed with error " + std::to_string(GetLastError());
    }
    return DynamicLibrary(reinterpret_cast<void*>(module));
}

void* DynamicLibrary::symbol(const char* name) const noexcept {
    if (m_handle == nullptr) {
        return nullptr;
    }
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(m_handle), name));
}

void DynamicLibrary::reset() noexcept {
    if (m_handle != nullptr) {
        FreeLibrary(static_cast<HMODULE>(m_handle));
        m_handle = nullptr;
    }
}

std::string sharedLibraryFileName(const std::string& base) {
    return base + ".dll";
}

}  // namespace platform
