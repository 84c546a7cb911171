#include "session/receive_check.h"

namespace session {

ReceiveVerdict checkReceived(const uint8_t* bytes, size_t available, uint32_t clientToken,
                             LogManager& log, PacketHeader& header) noexcept {
    if (available < kHeaderSize) {
        return ReceiveVerdict::kNeedMore;
    }
    header = readHeader(bytes);
    if (header.magic != kPacketMagic) {
        log.log(kLogWarning, "NetRecv - dodgy magic");
        return ReceiveVerdict::kDiscardAll;
    }
    if (header.len < kHeaderSize) {
        // A len shorter than the header cannot be walked past (0 would never advance),
        // so the framing is as lost as with a bad magic.
        log.log(kLogWarning, "NetRecv bad pkt->len=%d", header.len);
        return ReceiveVerdict::kDiscardAll;
    }
    if (header.len > available) {
        log.log(kLogWarning, "NetRecv pkt->len=%d, len=%d", header.len, static_cast<int>(available));
        return ReceiveVerdict::kIncomplete;
    }
    if (header.type == E_QELPT_NONE || header.type > kLastPacketType ||
        header.status > kLastPacketStatus) {
        log.log(kLogWarning, "NetRecv bad pkt->type=%d", header.type);
        return ReceiveVerdict::kSkip;
    }
    if (header.token == 0 || (clientToken != 0 && header.token != clientToken)) {
        log.log(kLogWarning, "NetRecv bad token=%08X", header.token);
        return ReceiveVerdict::kSkip;
    }
    return ReceiveVerdict::kAccept;
}

}  // namespace session
