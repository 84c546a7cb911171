// Loading a shared library at run time and finding its entry points.
#pragma once

#include <string>

namespace platform {

// Owns one loaded library (LoadLibraryW / dlopen). Move-only; the destructor unloads
// it unless release() was called (a library that must stay loaded for the life of the
// process, as the voice engine keeps the session library).
class DynamicLibrary {
public:
    DynamicLibrary() = default;
    ~DynamicLibrary();
    DynamicLibrary(DynamicLibrary&& other) noexcept;
    DynamicLibrary& operator=(DynamicLibrary&& other) noexcept;
    DynamicLibrary(const DynamicLibrary&) = delete;
    DynamicLibrary& operator=(const DynamicLibrary&) = delete;

    // Loads the library at `utf8Path`. A relative path or bare name is resolved by the
    // platform's search (on Windows the standard search order, which includes the
    // current directory). An absolute path names the one file loaded; on Windows its
    // own imports are then looked up in the system folder only, where Windows can
    // restrict the search that way (see the source), and by the standard order where
    // it cannot. On failure returns an empty object and, when `error` is given, the
    // system's reason.
    static DynamicLibrary open(const std::string& utf8Path, std::string* error = nullptr);

    bool isOpen() const noexcept { return m_handle != nullptr; }
    explicit operator bool() const noexcept { return isOpen(); }

    // Address of the exported symbol `name`, or null when it is missing.
    void* symbol(const char* name) const noexcept;

    // Whether `address` (of a function or data) lies in this library's own image.
    bool contains(const void* address) const noexcept;

    // Gives up ownership: the library stays loaded. Returns the native handle.
    void* release() noexcept;

private:
    explicit DynamicLibrary(void* handle) noexcept : m_handle(handle) {}
    void reset() noexcept;
    void* m_handle = nullptr;
};

// Platform file name of a shared library: "qel" -> "libqel.so" / "qel.dll".
std::string sharedLibraryFileName(const std::string& base);

// The path of `relative` (parts separated by '/') in the running program's directory,
// with the platform's separators; "." stands for that directory when it is unknown.
std::string besideExecutable(const std::string& relative);

// The absolute path of `relative` (parts separated by '/') in the directory of the file
// that holds this code: the shared library it is linked into, or the program. Empty
// when that directory cannot be known (Linux: the library was found by a bare name or
// a relative path).
std::string besideThisModule(const std::string& relative);

// Whether `utf8Path` names an existing file (not a directory).
bool isFile(const std::string& utf8Path);

}  // namespace platform
