#include <dlfcn.h>

#include "platform/dynamic_library.h"

namespace platform {

DynamicLibrary DynamicLibrary::open(const std::string& utf8Path, std::string* error) {
    // RTLD_LOCAL keeps the library's symbols out of the global namespace; the caller
    // reaches them only through symbol().
    void* handle = dlopen(utf8Path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr && error != nullptr) {
        const char* reason = dlerror();
        *error = reason ? reason : "dlopen failed";
    }
    return DynamicLibrary(handle);
}

void* DynamicLibrary::symbol(const char* name) const noexcept {
    return m_handle ? dlsym(m_handle, name) : nullptr;
}

void DynamicLibrary::reset() noexcept {
    if (m_handle != nullptr) {
        dlclose(m_handle);
        m_handle = nullptr;
    }
}

std::string sharedLibraryFileName(const std::string& base) {
    return "lib" + base + ".so";
}

}  // namespace platform
