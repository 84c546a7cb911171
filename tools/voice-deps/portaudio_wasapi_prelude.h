/* Included ahead of PortAudio's WASAPI host API: the MinGW-w64 audio headers, with the
 * property keys the host API reads defined in its object file. (MinGW-w64 gives
 * functiondiscoverykeys.h and functiondiscoverykeys_devpkey.h the same include guard,
 * so only the second is included.) */
#include <windows.h>
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
