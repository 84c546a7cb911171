#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "session/fields.h"
#include "session/packet.h"

namespace session {
namespace {

// The payload in a block of exactly its size, so that a read past the end is caught
// by the address sanitizer.
struct Payload {
    explicit Payload(const std::string& s) : bytes(new char[s.size() ? s.size() : 1]), size(s.size()) {
        s.copy(bytes.get(), s.size());
    }
    std::unique_ptr<char[]> bytes;
    size_t size;
};

int keyOf(const std::string& line) {
    Payload p(line);
    FieldTable t;
    EXPECT_EQ(parseFields(t, p.bytes.get(), p.size), 1);
    return t.entries[0].key;
}

TEST(ParseFields, MatchesKeysByPrefixInTableOrder) {
    EXPECT_EQ(keyOf("status:away\n"), E_FLD_STATUS);
    EXPECT_EQ(keyOf("s:away\n"), E_FLD_STATUS);  // "status" precedes "service"
    EXPECT_EQ(keyOf("se:x\n"), E_FLD_SERVICE);
    EXPECT_EQ(keyOf(":x\n"), E_FLD_NAME);        // an empty key begins every key
    EXPECT_EQ(keyOf("u:3\n"), E_FLD_UDPADDR);
    EXPECT_EQ(keyOf("under5:3\n"), E_FLD_UNDER_5SEC);
    EXPECT_EQ(keyOf("colour:red\n"), kUnknownField);
    EXPECT_EQ(keyOf("statusbar:x\n"), kUnknownField);  // longer than the key
    EXPECT_EQ(keyOf("no colon here\n"), kUnknownField);
    EXPECT_EQ(keyOf("pin:1"), E_FLD_PIN);  // last line without its line feed
}

TEST(ParseFields, ValuesAreCutToTheCapAndTheRestOfTheLineSkipped) {
    Payload p("dtmf:12345\nname:bob\nenckey:" + std::string(40, 'k') + "\n");
    FieldTable t;
    ASSERT_EQ(parseFields(t, p.bytes.get(), p.size), 3);
    EXPECT_EQ(std::string(t.entries[0].value, t.entries[0].length), "123");
    EXPECT_EQ(std::string(t.entries[1].value, t.entries[1].length), "bob");
    EXPECT_EQ(t.entries[2].length, 33u);
    const FieldEntry* name = findField(t, E_FLD_NAME);
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(name, &t.entries[1]);
}

TEST(ParseFields, UnknownLinesCountAndTheSeventeenthLineIsNotParsed) {
    std::string s;
    for (int i = 0; i < 16; ++i) {
        s += (i % 2 == 0) ? "junk\n" : "pin:" + std::to_string(i) + "\n";
    }
    s += "name:seventeenth\n";
    Payload p(s);
    FieldTable t;
    ASSERT_EQ(parseFields(t, p.bytes.get(), p.size), 16);
    EXPECT_EQ(t.entries[0].key, kUnknownField);
    EXPECT_EQ(t.entries[0].value, nullptr);
    EXPECT_EQ(t.entries[0].length, 0u);
    EXPECT_EQ(std::string(t.entries[15].value, t.entries[15].length), "15");
    EXPECT_EQ(findField(t, E_FLD_NAME), nullptr);
}

TEST(ParseFields, AZeroByteEndsThePayloadButKeepsTheLineItCuts) {
    const std::string s("name:ab\0cd\nstatus:x\n", 20);
    Payload p(s);
    FieldTable t;
    ASSERT_EQ(parseFields(t, p.bytes.get(), p.size), 1);
    EXPECT_EQ(std::string(t.entries[0].value, t.entries[0].length), "ab");

    const std::string leading("\0name:x\n", 8);
    Payload q(leading);
    EXPECT_EQ(parseFields(t, q.bytes.get(), q.size), 0);
}

TEST(ParseFields, StopsAtTheLengthGivenEvenMidLine) {
    Payload p("name:abcdef\nstatus:x\n");
    FieldTable t;
    ASSERT_EQ(parseFields(t, p.bytes.get(), 8), 1);  // "name:abc"
    EXPECT_EQ(std::string(t.entries[0].value, t.entries[0].length), "abc");
    ASSERT_EQ(parseFields(t, p.bytes.get(), 4), 1);  // "name": no colon before the end
    EXPECT_EQ(t.entries[0].key, kUnknownField);
    EXPECT_EQ(parseFields(t, p.bytes.get(), 0), 0);
}

TEST(ParseFields, ReadsBackWhatTheBuilderWrote) {
    PacketBuilder b;
    initPacket(b, 1, E_QELPT_ANNOUNCE);
    ASSERT_TRUE(addField(b, E_FLD_UDPADDR, "%s:%d", "10.0.0.1", 5004));
    ASSERT_TRUE(addField(b, E_FLD_STATUS, "%s", ""));
    ASSERT_TRUE(addField(b, E_FLD_ERROR, "%s", "a: b"));
    FieldTable t;
    ASSERT_EQ(parseFields(t, reinterpret_cast<const char*>(b.data()) + kHeaderSize,
                          b.size() - kHeaderSize),
              3);
    EXPECT_EQ(std::string(t.entries[0].value, t.entries[0].length), "10.0.0.1:5004");
    EXPECT_EQ(t.entries[1].key, E_FLD_STATUS);
    EXPECT_EQ(t.entries[1].length, 0u);
    EXPECT_EQ(std::string(t.entries[2].value, t.entries[2].length), "a: b");
}

}  // namespace
}  // namespace session
