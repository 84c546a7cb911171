#include <sys/random.h>

#include <cerrno>

#include "platform/random.h"

namespace platform {

bool randomBytes(void* out, size_t size) noexcept {
    auto* bytes = static_cast<unsigned char*>(out);
    while (size > 0) {
        const ssize_t got = getrandom(bytes, size, 0);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        bytes += got;
        size -= static_cast<size_t>(got);
    }
    return true;
}

}  // namespace platform
