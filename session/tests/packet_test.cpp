#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "session/packet.h"

namespace session {
namespace {

std::string text(const PacketBuilder& p) {
    return std::string(reinterpret_cast<const char*>(p.data()) + kHeaderSize,
                       p.size() - kHeaderSize);
}

TEST(PacketBuilder, HeaderAloneIsACompleteSixteenBytePacket) {
    PacketBuilder p;
    initPacket(p, 0xA1B2C3D4u, E_QELPT_DISCONNECT);
    const uint8_t expected[16] = {0x66, 0x15, 0x72, 0x57, 0xD4, 0xC3, 0xB2, 0xA1,
                                  0x10, 0x00, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00};
    ASSERT_EQ(p.size(), 16);
    EXPECT_EQ(std::memcmp(p.data(), expected, 16), 0);
    EXPECT_EQ(p.fields().count, 0);
    const PacketHeader h = readHeader(p.data());
    EXPECT_EQ(h.magic, kPacketMagic);
    EXPECT_EQ(h.token, 0xA1B2C3D4u);
    EXPECT_EQ(h.len, 16);
    EXPECT_EQ(h.type, E_QELPT_DISCONNECT);
}

TEST(PacketBuilder, ValueMustBeShorterThanItsCap) {
    PacketBuilder p;
    initPacket(p, 0, E_QELPT_UPDATE);
    const std::string n62(62, 'n');
    const std::string n63(63, 'n');
    EXPECT_FALSE(addField(p, E_FLD_NAME, "%s", n63.c_str()));
    EXPECT_EQ(p.size(), 16);  // a refused value leaves no trace
    EXPECT_TRUE(addField(p, E_FLD_NAME, "%s", n62.c_str()));
    EXPECT_EQ(p.size(), 16 + 5 + 62 + 1);

    initPacket(p, 0, E_QELPT_COMMAND);
    EXPECT_TRUE(addField(p, E_FLD_DTMF, "%s", "#"));
    EXPECT_TRUE(addField(p, E_FLD_DTMF, "%s", "12"));  // the cap of 3 admits two
    EXPECT_FALSE(addField(p, E_FLD_DTMF, "%s", "123"));
    EXPECT_EQ(text(p), "dtmf:#\ndtmf:12\n");
    ASSERT_EQ(p.fields().count, 2);
    EXPECT_EQ(std::string(p.fields().entries[1].value, p.fields().entries[1].length), "12");

    initPacket(p, 0, E_QELPT_ANNOUNCE);
    EXPECT_TRUE(addField(p, E_FLD_ENCKEY, "%s", std::string(32, 'k').c_str()));
    EXPECT_FALSE(addField(p, E_FLD_ENCKEY, "%s", std::string(33, 'k').c_str()));
}

TEST(PacketBuilder, RefusesUnknownKeysAndASeventeenthField) {
    PacketBuilder p;
    initPacket(p, 0, E_QELPT_UPDATE);
    EXPECT_FALSE(addField(p, 12, "x"));
    EXPECT_FALSE(addField(p, -1, "x"));
    for (int i = 0; i < kMaxFields; ++i) {
        ASSERT_TRUE(addField(p, E_FLD_DTMF, "%d", i % 10));
    }
    const uint16_t full = p.size();
    EXPECT_FALSE(addField(p, E_FLD_DTMF, "1"));
    EXPECT_EQ(p.size(), full);
    EXPECT_EQ(p.fields().count, kMaxFields);
}

TEST(PacketBuilder, ALineMustFitWithItsZeroByteInTheArea) {
    PacketBuilder p;
    initPacket(p, 0, E_QELPT_UPDATE);
    // 12 lines of "service:" + 54 + "\n" (63 bytes) = 756 bytes: 16 + 756 = 772 > 768,
    // so only 11 fit: 16 + 693 = 709, leaving 59 bytes.
    const std::string v54(54, 'v');
    int written = 0;
    while (addField(p, E_FLD_SERVICE, "%s", v54.c_str())) {
        ++written;
    }
    EXPECT_EQ(written, 11);
    EXPECT_EQ(p.size(), 709);
    // A 58-byte line needs 59 with its zero byte: fits exactly. Then nothing more.
    EXPECT_TRUE(addField(p, E_FLD_SERVICE, "%s", std::string(49, 'w').c_str()));
    EXPECT_EQ(p.size(), 767);
    EXPECT_FALSE(addField(p, E_FLD_DTMF, "%s", ""));
    EXPECT_EQ(p.size(), 767);
}

TEST(PacketBuilder, RecordsWrittenFieldsPointingIntoThePacket) {
    PacketBuilder p;
    initPacket(p, 7, E_QELPT_CONNECT_TO);
    ASSERT_TRUE(addField(p, E_FLD_SERVICE, "%s", "conf"));
    ASSERT_TRUE(addField(p, E_FLD_PIN, "%d", 4711));
    const FieldEntry* pin = findField(p.fields(), E_FLD_PIN);
    ASSERT_NE(pin, nullptr);
    EXPECT_EQ(std::string(pin->value, pin->length), "4711");
    EXPECT_GE(reinterpret_cast<const uint8_t*>(pin->value), p.data());
    EXPECT_LT(reinterpret_cast<const uint8_t*>(pin->value), p.data() + p.size());
    EXPECT_EQ(findField(p.fields(), E_FLD_NAME), nullptr);
}

TEST(StatusName, NamesEveryCodeAndCallsTheRestInvalid) {
    EXPECT_STREQ(statusName(0), "E_QELPS_NONE");
    EXPECT_STREQ(statusName(1), "E_QELPS_OK");
    EXPECT_STREQ(statusName(4), "E_QELPS_NOTFOUND");
    EXPECT_STREQ(statusName(7), "E_QELPS_TRYING");
    EXPECT_STREQ(statusName(8), "E_QELPS_CONNECTFAILED");
    EXPECT_STREQ(statusName(9), "E_QELPS_INVALID");
    EXPECT_STREQ(statusName(200), "E_QELPS_INVALID");
    EXPECT_STREQ(statusName(0xFFFFFFFFu), "E_QELPS_INVALID");
}

TEST(PacketHeader, WritesAndReadsLittleEndianFields) {
    PacketHeader h;
    h.magic = kPacketMagic;
    h.token = 0x01020304u;
    h.len = 0x0506;
    h.type = E_QELPT_RTP;
    h.status = E_QELPS_OK;
    h.reserved = 0x0A0B0C0Du;
    uint8_t bytes[16];
    writeHeader(bytes, h);
    const uint8_t expected[16] = {0x66, 0x15, 0x72, 0x57, 4, 3, 2, 1, 6, 5, 7, 1, 0x0D, 0x0C, 0x0B, 0x0A};
    EXPECT_EQ(std::memcmp(bytes, expected, 16), 0);
    const PacketHeader back = readHeader(bytes);
    EXPECT_EQ(back.token, h.token);
    EXPECT_EQ(back.len, h.len);
    EXPECT_EQ(back.reserved, h.reserved);
}

}  // namespace
}  // namespace session
