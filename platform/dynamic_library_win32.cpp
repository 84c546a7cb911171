#include <windows.h>

#include <string>
#include <vector>

#include "platform/dynamic_library.h"
#include "platform/utf.h"

namespace platform {

namespace {

// LoadLibraryExW's search flags of KB2533623 (Windows 8, and Vista and 7 with that
// update); spelt out, since the headers give them only for newer targets.
constexpr DWORD kSearchSystem32 = 0x00000800;  // LOAD_LIBRARY_SEARCH_SYSTEM32

// Windows that know the LOAD_LIBRARY_SEARCH_* flags also have AddDllDirectory; older
// ones refuse the flags with ERROR_INVALID_PARAMETER. Asked at run time, so that the
// files keep loading on Windows XP.
bool searchFlagsSupported() {
    static const bool supported = [] {
        HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
        return kernel != nullptr && GetProcAddress(kernel, "AddDllDirectory") != nullptr;
    }();
    return supported;
}

bool isAbsolute(const std::wstring& path) {
    const bool drive = path.size() >= 3 && path[1] == L':' && (path[2] == L'\\' || path[2] == L'/');
    const bool unc = path.size() >= 2 && path[0] == L'\\' && path[1] == L'\\';
    return drive || unc;
}

std::wstring wide(const std::string& utf8) {
    const std::u16string text = utf8ToUtf16(utf8);
    return std::wstring(text.begin(), text.end());
}

// The directory of `module`'s file (null: the program), without a trailing separator;
// empty when it cannot be had.
std::string moduleDirectory(HMODULE module) {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD n = GetModuleFileNameW(module, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) {
            return {};
        }
        if (n < buffer.size()) {  // a truncated name fills the buffer exactly
            std::string path = utf16ToUtf8(std::u16string(buffer.begin(), buffer.begin() + n));
            const std::size_t slash = path.find_last_of("\\/");
            return slash == std::string::npos ? std::string() : path.substr(0, slash);
        }
        if (buffer.size() >= 32768) {  // longer than any path Windows gives
            return {};
        }
        buffer.resize(buffer.size() * 2);
    }
}

std::string joined(std::string directory, const std::string& relative) {
    directory += '\\';
    for (const char c : relative) {
        directory += c == '/' ? '\\' : c;
    }
    return directory;
}

// An object of this file: its address names the module this code was linked into.
const char kThisModuleMarker = 0;

}  // namespace

DynamicLibrary DynamicLibrary::open(const std::string& utf8Path, std::string* error) {
    const std::wstring path = wide(utf8Path);
    HMODULE module = nullptr;
    if (isAbsolute(path) && searchFlagsSupported()) {
        // The file itself comes from the path; the libraries it imports only from the
        // system folder, never from the program's folder or the current directory.
        module = LoadLibraryExW(path.c_str(), nullptr, kSearchSystem32);
    } else {
        module = LoadLibraryW(path.c_str());
    }
    if (module == nullptr && error != nullptr) {
        *error = "LoadLibrary failed with error " + std::to_string(GetLastError());
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
    std::string directory = moduleDirectory(nullptr);
    return joined(directory.empty() ? std::string(".") : directory, relative);
}

std::string besideThisModule(const std::string& relative) {
    HMODULE self = nullptr;
    const DWORD flags = GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT;
    if (!GetModuleHandleExW(flags, reinterpret_cast<LPCWSTR>(&kThisModuleMarker), &self)) {
        return {};
    }
    const std::string directory = moduleDirectory(self);
    return directory.empty() ? std::string() : joined(directory, relative);
}

bool isFile(const std::string& utf8Path) {
    const DWORD attributes = GetFileAttributesW(wide(utf8Path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

}  // namespace platform
