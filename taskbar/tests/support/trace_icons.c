/* An icon library whose code leaves a trace in the process that runs it. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    (void)instance;
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) {
        SetEnvironmentVariableW(L"TASKELLE_ICON_LIBRARY_RAN", L"1");
    }
    return TRUE;
}
