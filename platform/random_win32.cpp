#include <windows.h>
// ntsecapi.h declares RtlGenRandom (advapi32's SystemFunction036), the system's
// random source that exists from Windows XP on; BCryptGenRandom needs Vista.
#include <ntsecapi.h>

#include "platform/random.h"

namespace platform {

bool randomBytes(void* out, size_t size) noexcept {
    auto* bytes = static_cast<unsigned char*>(out);
    while (size > 0) {
        const ULONG chunk = size > 0x10000000u ? 0x10000000u : static_cast<ULONG>(size);
        if (!RtlGenRandom(bytes, chunk)) {
            return false;
        }
        bytes += chunk;
        size -= chunk;
    }
    return true;
}

}  // namespace platform
