// The steps every socket handle of the platform layer goes through, one function each
// per platform (-1 is the invalid handle on both).
#pragma once

#include <cstdint>

#include "platform/udp_socket.h"

namespace platform::socket_ops {

// A new socket for `candidate`, not inherited by programs the process starts; -1 on failure.
intptr_t open(const DatagramAddresses::Candidate& candidate) noexcept;
// Connects (blocking for a stream; a datagram socket only records its peer).
bool connect(intptr_t handle, const DatagramAddresses::Candidate& candidate) noexcept;
bool setNonBlocking(intptr_t handle) noexcept;
void close(intptr_t handle) noexcept;

}  // namespace platform::socket_ops
