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

bool DynamicLibrary::contains(const void* address) const noexcept {
    HMODULE owner = nullptr;
    const DWORD flags = GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT;
    if (m_handle == nullptr || !GetModuleHandleExW(flags, static_cast<LPCWSTR>(address), &owner)) {
        return false;
    }
    return owner == static_cast<HMODULE>(m_handle);
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

std::string besideExecutable(const std::string& relative) {
    wchar_t self[MAX_PATH * 4];
    const DWORD n = GetModuleFileNameW(nullptr, self, sizeof self / sizeof self[0]);
    std::string path = ".";
    if (n > 0 && n < sizeof self / sizeof self[0]) {
        path = utf16ToUtf8(std::u16string(reinterpret_cast<const char16_t*>(self), n));
        path.resize(path.find_last_of("\\/"));
    }
    path += '\\';
    for (const char c : relative) {
        path += c == '/' ? '\\' : c;
    }
    return path;
}

}  // namespace platform
