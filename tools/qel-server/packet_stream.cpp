#include "tools/qel-server/packet_stream.h"

namespace qelserver {

FrameCheck checkFrame(const uint8_t* bytes, size_t available, size_t& length) noexcept {
    if (available < session::kHeaderSize) {
        // A wrong magic can be seen before the whole header is there, but waiting for
        // the rest costs nothing and keeps one rule.
        return FrameCheck::Incomplete;
    }
    const session::PacketHeader header = session::readHeader(bytes);
    if (header.magic != session::kPacketMagic || header.len < session::kHeaderSize) {
        return FrameCheck::Broken;
    }
    if (header.len > available) {
        return FrameCheck::Incomplete;
    }
    length = header.len;
    return FrameCheck::Complete;
}

}  // namespace qelserver
