// The checks that every received packet passes, in order, before it is acted on. The
// receive path walks its buffered input packet by packet and does what the verdict
// says; the checks log their own messages.
#pragma once

#include <cstddef>
#include <cstdint>

#include "session/log_manager.h"
#include "session/packet.h"

namespace session {

enum class ReceiveVerdict {
    kNeedMore,    // fewer than 16 bytes: wait for more, keep them
    kDiscardAll,  // stream position lost (bad magic, or a len below the header's size):
                  // drop all buffered input
    kIncomplete,  // len beyond the bytes buffered: stop here, keep them until more arrive
    kSkip,        // a complete packet that is rejected: consume its len bytes
    kAccept,      // a complete packet to parse and dispatch
};

// Examines the packet at `bytes`, with `available` bytes buffered from there on.
// `clientToken` is 0 until the server's ANNOUNCE answer has given one; until then any
// nonzero token passes. Fills `header` from the first 16 bytes when there are that many.
ReceiveVerdict checkReceived(const uint8_t* bytes, size_t available, uint32_t clientToken,
                             LogManager& log, PacketHeader& header) noexcept;

}  // namespace session
