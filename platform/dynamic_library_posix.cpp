#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/dynamic_library.h"

namespace platform {

namespace {
// An object of this file: its address names the shared object this code was linked into.
const char kThisModuleMarker = 0;
}  // namespace

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

bool DynamicLibrary::contains(const void* address) const noexcept {
    Dl_info info{};
    if (m_handle == nullptr || dladdr(address, &info) == 0 || info.dli_fname == nullptr) {
        return false;
    }
    // The handle of the object that holds `address`, without loading anything.
    void* owner = dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD);
    if (owner == nullptr) {
        return false;
    }
    dlclose(owner);
    return owner == m_handle;
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

std::string besideExecutable(const std::string& relative) {
    char self[4096];
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    std::string dir = ".";
    if (n > 0) {
        dir.assign(self, static_cast<size_t>(n));
        dir.resize(dir.find_last_of('/'));
    }
    return dir + "/" + relative;
}

std::string besideThisModule(const std::string& relative) {
    Dl_info info{};
    if (dladdr(&kThisModuleMarker, &info) == 0 || info.dli_fname == nullptr ||
        info.dli_fname[0] != '/') {
        // A name as the library was asked for: a bare name or a path relative to a
        // current directory that may have changed since.
        return {};
    }
    std::string directory(info.dli_fname);
    directory.resize(directory.find_last_of('/'));
    return directory + "/" + relative;
}

bool isFile(const std::string& utf8Path) {
    struct stat status {};
    return ::stat(utf8Path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

}  // namespace platform
