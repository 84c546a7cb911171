#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "session/receive_check.h"

namespace session {
namespace {

std::vector<uint8_t> packet(uint32_t token, uint8_t type, uint8_t status, uint16_t len,
                            uint32_t magic = kPacketMagic) {
    std::vector<uint8_t> bytes(len < kHeaderSize ? kHeaderSize : len, 'x');
    PacketHeader h;
    h.magic = magic;
    h.token = token;
    h.len = len;
    h.type = type;
    h.status = status;
    writeHeader(bytes.data(), h);
    return bytes;
}

class ReceiveCheckTest : public ::testing::Test {
protected:
    void SetUp() override {
        log = LogManager::create();
        log->setLevel(5);
    }
    ReceiveVerdict check(const std::vector<uint8_t>& bytes, uint32_t clientToken,
                         size_t available = SIZE_MAX) {
        return checkReceived(bytes.data(), available == SIZE_MAX ? bytes.size() : available,
                             clientToken, *log, header);
    }
    std::string lastMessage() {
        std::string last;
        while (const LogWalkEntry* e = log->walk()) {
            last = e->text + 9;
        }
        return last;
    }
    std::unique_ptr<LogManager> log;
    PacketHeader header;
};

TEST_F(ReceiveCheckTest, AcceptsAWellFormedPacket) {
    EXPECT_EQ(check(packet(5, E_QELPT_ANNOUNCE, E_QELPS_OK, 16), 0), ReceiveVerdict::kAccept);
    EXPECT_EQ(header.len, 16);
    EXPECT_EQ(check(packet(5, E_QELPT_NETSTATE, E_QELPS_CONNECTFAILED, 30), 5),
              ReceiveVerdict::kAccept);
    EXPECT_EQ(lastMessage(), "");
}

TEST_F(ReceiveCheckTest, WaitsForAHeaderAndForTheWholePacket) {
    const auto p = packet(5, E_QELPT_RTP, 0, 40);
    EXPECT_EQ(check(p, 5, 15), ReceiveVerdict::kNeedMore);
    EXPECT_EQ(check(p, 5, 39), ReceiveVerdict::kIncomplete);
    EXPECT_EQ(lastMessage(), "NetRecv pkt->len=40, len=39");
}

TEST_F(ReceiveCheckTest, LosesTheFramingOnABadMagicOrAShortLen) {
    EXPECT_EQ(check(packet(5, 1, 1, 16, 0x57721567), 5), ReceiveVerdict::kDiscardAll);
    EXPECT_EQ(lastMessage(), "NetRecv - dodgy magic");
    EXPECT_EQ(check(packet(5, 1, 1, 0), 5), ReceiveVerdict::kDiscardAll);
    EXPECT_EQ(check(packet(5, 1, 1, 15), 5), ReceiveVerdict::kDiscardAll);
    EXPECT_EQ(lastMessage(), "NetRecv bad pkt->len=15");
}

TEST_F(ReceiveCheckTest, SkipsBadTypesStatusesAndTokens) {
    EXPECT_EQ(check(packet(5, 0, 0, 16), 5), ReceiveVerdict::kSkip);
    EXPECT_EQ(check(packet(5, 9, 0, 16), 5), ReceiveVerdict::kSkip);
    EXPECT_EQ(lastMessage(), "NetRecv bad pkt->type=9");
    EXPECT_EQ(check(packet(5, E_QELPT_PING, 9, 16), 5), ReceiveVerdict::kSkip);  // valid type
    EXPECT_EQ(lastMessage(), "NetRecv bad pkt->type=2");
    EXPECT_EQ(check(packet(0, E_QELPT_PING, 0, 16), 0), ReceiveVerdict::kSkip);
    EXPECT_EQ(lastMessage(), "NetRecv bad token=00000000");
    EXPECT_EQ(check(packet(0xBEEF, E_QELPT_PING, 0, 16), 5), ReceiveVerdict::kSkip);
    EXPECT_EQ(lastMessage(), "NetRecv bad token=0000BEEF");
    EXPECT_EQ(check(packet(0xBEEF, E_QELPT_PING, 0, 16), 0), ReceiveVerdict::kAccept);
}

}  // namespace
}  // namespace session
