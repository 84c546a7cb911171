// A library planted where a loader's search could find it under a name the engine or
// its dependencies load. It exports nothing; when it is loaded, its start-up code writes
// "<its own file>.ran" beside itself, so a test sees that its code ran.
#ifdef _WIN32
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        wchar_t path[MAX_PATH + 8];
        const DWORD n = GetModuleFileNameW(self, path, MAX_PATH);
        if (n > 0 && n < MAX_PATH) {
            lstrcpyW(path + n, L".ran");
            HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
            if (file != INVALID_HANDLE_VALUE) {
                CloseHandle(file);
            }
        }
    }
    return TRUE;
}
#else
#include <dlfcn.h>

#include <cstdio>
#include <string>

namespace {
const char kMarker = 0;

__attribute__((constructor)) void recordLoad() {
    Dl_info info{};
    if (dladdr(&kMarker, &info) != 0 && info.dli_fname != nullptr) {
        if (std::FILE* file = std::fopen((std::string(info.dli_fname) + ".ran").c_str(), "w")) {
            std::fclose(file);
        }
    }
}
}  // namespace
#endif
