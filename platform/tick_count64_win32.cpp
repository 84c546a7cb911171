// GetTickCount64 for the MinGW runtime's own use, so that the shipped files load on
// Windows XP. The static thread library (winpthreads) computes its timeouts with
// GetTickCount64, which kernel32 has only from Vista, and the import alone stops a file
// from loading on XP. This object defines the import's pointer itself, so the linker
// takes it instead of kernel32's import: it calls kernel32's GetTickCount64 where
// Windows has one and makes it from GetTickCount elsewhere. It is linked as an object
// (never from an archive) into each shipped file (zephra_stage).
#include <windows.h>

#include "platform/tick_extender.h"

namespace {

using TickCount64 = ULONGLONG(WINAPI*)();

ULONGLONG WINAPI fromTickCount() {
    static platform::TickExtender extender;
    return extender.extend(GetTickCount());
}

ULONGLONG WINAPI firstTickCount64();

// Chosen on the first call: kernel32's own where it exists. Races between first calls
// are harmless: every thread stores the same choice.
TickCount64 g_tickCount64 = firstTickCount64;

ULONGLONG WINAPI firstTickCount64() {
    TickCount64 chosen = fromTickCount;
    if (HMODULE kernel = GetModuleHandleW(L"kernel32.dll")) {
        if (FARPROC found = GetProcAddress(kernel, "GetTickCount64")) {
            chosen = reinterpret_cast<TickCount64>(reinterpret_cast<void*>(found));
        }
    }
    __atomic_store_n(&g_tickCount64, chosen, __ATOMIC_RELEASE);
    return chosen();
}

ULONGLONG WINAPI tickCount64() {
    return __atomic_load_n(&g_tickCount64, __ATOMIC_ACQUIRE)();
}

}  // namespace

// The import pointer that callers of GetTickCount64 jump through (the names carry
// the stdcall decoration on 32-bit Windows).
extern "C" {
#if defined(_WIN64)
TickCount64 zephraImpGetTickCount64 __asm__("__imp_GetTickCount64") = tickCount64;
#else
TickCount64 zephraImpGetTickCount64 __asm__("__imp__GetTickCount64@0") = tickCount64;
#endif
}
