// Owner of a POSIX file descriptor (sockets, epoll, signalfd), closed with close().
#pragma once

#include <unistd.h>

#include "platform/unique_resource.h"

namespace platform {

struct FdTraits {
    using Handle = int;
    static constexpr Handle empty() noexcept { return -1; }
    static void close(Handle fd) noexcept { ::close(fd); }
};
using UniqueFd = UniqueResource<FdTraits>;

}  // namespace platform
