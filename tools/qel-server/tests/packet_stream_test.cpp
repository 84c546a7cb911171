#include <gtest/gtest.h>

#include <vector>

#include "session/packet.h"
#include "tools/qel-server/packet_stream.h"

namespace qelserver {
namespace {

using namespace session;

std::vector<uint8_t> packetBytes(uint8_t type, const char* name = nullptr) {
    PacketBuilder p;
    initPacket(p, 0x11223344, type);
    if (name) {
        addField(p, E_FLD_NAME, "%s", name);
    }
    return std::vector<uint8_t>(p.data(), p.data() + p.size());
}

struct Collected {
    std::vector<std::vector<uint8_t>> packets;
    auto sink() {
        return [this](const uint8_t* b, size_t n) { packets.emplace_back(b, b + n); };
    }
};

TEST(PacketStream, ReassemblesAPacketSplitAtEveryPosition) {
    std::vector<uint8_t> two = packetBytes(E_QELPT_ANNOUNCE, "alice");
    const std::vector<uint8_t> second = packetBytes(E_QELPT_PING);
    two.insert(two.end(), second.begin(), second.end());
    for (size_t cut = 0; cut <= two.size(); ++cut) {
        PacketStream stream;
        Collected got;
        ASSERT_TRUE(stream.feed(two.data(), cut, got.sink()));
        ASSERT_TRUE(stream.feed(two.data() + cut, two.size() - cut, got.sink()));
        ASSERT_EQ(got.packets.size(), 2u) << "cut at " << cut;
        EXPECT_EQ(got.packets[1], second);
        EXPECT_EQ(stream.pending(), 0u);
    }
}

TEST(PacketStream, KeepsAPartialPacketUntilItCompletes) {
    const std::vector<uint8_t> p = packetBytes(E_QELPT_UPDATE, "bob");
    PacketStream stream;
    Collected got;
    for (size_t i = 0; i + 1 < p.size(); ++i) {
        ASSERT_TRUE(stream.feed(&p[i], 1, got.sink()));
    }
    EXPECT_TRUE(got.packets.empty());
    EXPECT_EQ(stream.pending(), p.size() - 1);
    ASSERT_TRUE(stream.feed(&p.back(), 1, got.sink()));
    ASSERT_EQ(got.packets.size(), 1u);
    EXPECT_EQ(got.packets[0], p);
}

TEST(PacketStream, BadMagicOrShortLenBreaksTheStream) {
    std::vector<uint8_t> p = packetBytes(E_QELPT_PING);
    p[0] ^= 0xFF;
    PacketStream stream;
    Collected got;
    EXPECT_FALSE(stream.feed(p.data(), p.size(), got.sink()));
    EXPECT_EQ(stream.pending(), 0u);

    // A len below the header would never advance the walk.
    for (uint8_t len : {0, 1, 15}) {
        std::vector<uint8_t> q = packetBytes(E_QELPT_PING);
        q[8] = len;
        q[9] = 0;
        PacketStream s;
        EXPECT_FALSE(s.feed(q.data(), q.size(), got.sink())) << int(len);
    }
    EXPECT_TRUE(got.packets.empty());
}

TEST(PacketStream, PacketsBeforeABreakAreStillDelivered) {
    std::vector<uint8_t> bytes = packetBytes(E_QELPT_PING);
    bytes.insert(bytes.end(), 16, 0xEE);
    PacketStream stream;
    Collected got;
    EXPECT_FALSE(stream.feed(bytes.data(), bytes.size(), got.sink()));
    EXPECT_EQ(got.packets.size(), 1u);
}

TEST(WalkDatagram, HandsOutEveryWholePacketAndReportsATruncatedTail) {
    std::vector<uint8_t> bytes = packetBytes(E_QELPT_PING);
    const std::vector<uint8_t> rtp = packetBytes(E_QELPT_RTP, "x");
    bytes.insert(bytes.end(), rtp.begin(), rtp.end());
    Collected got;
    EXPECT_TRUE(walkDatagram(bytes.data(), bytes.size(), got.sink()));
    EXPECT_EQ(got.packets.size(), 2u);

    Collected partial;
    EXPECT_FALSE(walkDatagram(bytes.data(), bytes.size() - 1, partial.sink()));
    EXPECT_EQ(partial.packets.size(), 1u);
}

}  // namespace
}  // namespace qelserver
