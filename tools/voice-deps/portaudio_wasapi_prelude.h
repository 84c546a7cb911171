/* Included ahead of PortAudio's WASAPI host API: the MinGW-w64 audio headers, with the
 * property keys the host API reads defined in its object file. (MinGW-w64 gives
 * functiondiscoverykeys.h and functiondiscoverykeys_devpkey.h the same include guard,
 * so only the second is included.) */
#include <windows.h>
#include <string.h>
#include <mmreg.h>
#include <avrt.h>
#define COBJMACROS
#include <audioclient.h>
#include <endpointvolume.h>
#define INITGUID
#include <propkeydef.h>
#include <mmdeviceapi.h>
#include <functiondiscoverykeys_devpkey.h>
#undef INITGUID
#include <devicetopology.h>

/* The host API loads avrt.dll (the multimedia class scheduler, Vista and later) by
 * name. By name, the loader searches the program's folder and, where the file is not
 * in the system folder (Windows XP has none), the current directory and PATH: a file
 * planted there under that name would run inside the host. So the load is made from
 * the system folder only: with LOAD_LIBRARY_SEARCH_SYSTEM32 where Windows has it
 * (Windows 8, or Vista and 7 with KB2533623, which also give AddDllDirectory), and by
 * the full path of the system folder elsewhere. On XP it then fails, and the host API
 * reports WASAPI as unavailable, as it always did there. */
static HMODULE zvd_load_system_library(const char *name)
{
    char path[MAX_PATH];
    UINT length;
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    if (kernel != NULL && GetProcAddress(kernel, "AddDllDirectory") != NULL)
        return LoadLibraryExA(name, NULL, 0x00000800 /* LOAD_LIBRARY_SEARCH_SYSTEM32 */);
    length = GetSystemDirectoryA(path, MAX_PATH);
    if (length == 0 || length + 1 + strlen(name) >= MAX_PATH)
        return NULL;
    path[length] = '\\';
    strcpy(path + length + 1, name);
    return LoadLibraryExA(path, NULL, LOAD_WITH_ALTERED_SEARCH_PATH);
}
#define LoadLibraryA(name) zvd_load_system_library(name)
