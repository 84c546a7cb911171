#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "session/voice_client.h"

namespace session {
namespace {

// The messages of one walk, without their time stamps.
std::vector<std::string> messages(VoiceClient& client) {
    std::vector<std::string> out;
    while (const LogWalkEntry* e = client.log().walk()) {
        out.emplace_back(e->text + 9);
    }
    return out;
}

bool logged(const std::vector<std::string>& lines, const std::string& text) {
    return std::find(lines.begin(), lines.end(), text) != lines.end();
}

std::string payload(const sReq* slot) {
    return std::string(reinterpret_cast<const char*>(slot->packet.data()) + kHeaderSize,
                       slot->packet.size() - kHeaderSize);
}

class VoiceClientTest : public ::testing::Test {
protected:
    void SetUp() override {
        client = VoiceClient::create();
        ASSERT_NE(client, nullptr);
        client->log().setLevel(5);
    }
    std::unique_ptr<VoiceClient> client;
};

TEST_F(VoiceClientTest, AFreshClientIsIdleAndSaysSo) {
    EXPECT_EQ(client->state(), E_QELCS_IDLE);
    EXPECT_FALSE(client->active());
    EXPECT_EQ(client->requests().front(), nullptr);
    EXPECT_EQ(messages(*client), std::vector<std::string>{"Client object initialised"});
}

TEST_F(VoiceClientTest, TheAnnounceOfAFreshClientIsSeventyExactBytes) {
    ASSERT_TRUE(client->announce());
    EXPECT_EQ(client->state(), E_QELCS_ANNOUNCING);
    const sReq* slot = client->requests().front();
    ASSERT_NE(slot, nullptr);
    const std::string expectedText =
        "name:anonymous\n"
        "status:\n"
        "version:1.0.0\n"
        "codec:opus/32000\n";
    std::vector<uint8_t> expected = {0x66, 0x15, 0x72, 0x57, 0, 0, 0, 0, 70, 0, 1, 0, 0, 0, 0, 0};
    expected.insert(expected.end(), expectedText.begin(), expectedText.end());
    ASSERT_EQ(slot->packet.size(), 70);
    EXPECT_EQ(std::vector<uint8_t>(slot->packet.data(), slot->packet.data() + 70), expected);
}

TEST_F(VoiceClientTest, AnnouncingTwiceIsRefused) {
    ASSERT_TRUE(client->announce());
    EXPECT_FALSE(client->announce());
    EXPECT_EQ(client->requests().queuedCount(), 1);
    EXPECT_TRUE(logged(messages(*client), "announce() called in state=1"));
}

// Which request each state accepts, and the state it leads to.
TEST_F(VoiceClientTest, RequestsFollowTheStateTable) {
    struct Row {
        const char* name;
        bool (*request)(VoiceClient&);
        bool accepted[9];
        ClientState next;  // when accepted; -1: unchanged
    };
    const Row rows[] = {
        {"announce", [](VoiceClient& c) { return c.announce(); },
         {1, 0, 0, 0, 0, 0, 0, 0, 0}, E_QELCS_ANNOUNCING},
        {"connectVoice", [](VoiceClient& c) { return c.connectVoice("svc", "1234"); },
         {0, 1, 1, 1, 1, 0, 0, 0, 0}, E_QELCS_CONNECTING},
        {"dtmf", [](VoiceClient& c) { return c.dtmf(5); },
         {0, 0, 0, 0, 0, 0, 1, 0, 0}, static_cast<ClientState>(-1)},
        {"disconnect", [](VoiceClient& c) { return c.disconnect(); },
         {0, 1, 1, 1, 1, 1, 1, 1, 0}, E_QELCS_DISCONNECTED},
    };
    for (const Row& row : rows) {
        for (int s = E_QELCS_IDLE; s <= E_QELCS_DISCONNECTED; ++s) {
            SCOPED_TRACE(std::string(row.name) + " in state " + std::to_string(s));
            client->reset();
            client->enterState(static_cast<ClientState>(s));
            const bool accepted = row.request(*client);
            EXPECT_EQ(accepted, row.accepted[s]);
            EXPECT_EQ(client->requests().queuedCount(), accepted ? 1 : 0);
            const ClientState expected =
                (accepted && row.next >= 0) ? row.next : static_cast<ClientState>(s);
            EXPECT_EQ(client->state(), expected);
        }
    }
    client->reset();
    EXPECT_FALSE(client->disconnect());
    EXPECT_TRUE(logged(messages(*client), "disconnect() called in state=0"));
    client->enterState(E_QELCS_DISCONNECTED);
    EXPECT_FALSE(client->disconnect());
    EXPECT_TRUE(logged(messages(*client), "disconnect() called in state=8"));
    client->reset();
    EXPECT_FALSE(client->connectVoice("svc", "1234"));
    EXPECT_TRUE(logged(messages(*client), "connect(1234) called in state=0"));
}

TEST_F(VoiceClientTest, ConnectAndDisconnectCarryTheTokenAndTheirFields) {
    ASSERT_TRUE(client->announce());
    client->requests().recycle(client->requests().pop());
    client->m_token = 0xCAFE0001u;
    ASSERT_TRUE(client->connectVoice("conference", "4711"));
    const sReq* connect = client->requests().front();
    const PacketHeader h = readHeader(connect->packet.data());
    EXPECT_EQ(h.token, 0xCAFE0001u);
    EXPECT_EQ(h.type, E_QELPT_CONNECT_TO);
    EXPECT_EQ(h.status, E_QELPS_NONE);
    EXPECT_EQ(payload(connect), "service:conference\npin:4711\n");
    EXPECT_EQ(client->state(), E_QELCS_CONNECTING);

    ASSERT_TRUE(client->disconnect());
    client->requests().recycle(client->requests().pop());
    const sReq* bye = client->requests().front();
    EXPECT_EQ(bye->packet.size(), 16);  // no fields
    EXPECT_EQ(readHeader(bye->packet.data()).type, E_QELPT_DISCONNECT);
    EXPECT_EQ(readHeader(bye->packet.data()).token, 0xCAFE0001u);
}

TEST_F(VoiceClientTest, DtmfSendsOneKeypadCharacter) {
    client->enterState(E_QELCS_CONNECTED);
    const char* keys = "0123456789*#ABCD";
    for (uint8_t digit = 0; digit < 16; ++digit) {
        ASSERT_TRUE(client->dtmf(digit));
        sReq* slot = client->requests().pop();
        EXPECT_EQ(readHeader(slot->packet.data()).type, E_QELPT_COMMAND);
        EXPECT_EQ(payload(slot), std::string("dtmf:") + keys[digit] + "\n");
        client->requests().recycle(slot);
    }
    EXPECT_FALSE(client->dtmf(16));
    EXPECT_FALSE(client->dtmf(255));
    EXPECT_EQ(client->requests().front(), nullptr);
    const auto lines = messages(*client);
    EXPECT_TRUE(logged(lines, "dtmf(11)"));
    EXPECT_TRUE(logged(lines, "dtmf(16) invalid digit"));
    EXPECT_TRUE(logged(lines, "dtmf(255) invalid digit"));
}

TEST_F(VoiceClientTest, NameAndStatusChangesShareOneQueuedUpdate) {
    client->enterState(E_QELCS_CONNECTED);
    EXPECT_TRUE(client->setName("alice"));
    EXPECT_TRUE(client->setName("alice"));  // unchanged: nothing more to send
    EXPECT_TRUE(client->setStatus("busy"));
    EXPECT_TRUE(client->setName("bob"));
    EXPECT_TRUE(client->setName(""));
    ASSERT_EQ(client->requests().queuedCount(), 1);
    const sReq* update = client->requests().front();
    EXPECT_EQ(update->packet.type(), E_QELPT_UPDATE);
    EXPECT_EQ(payload(update), "name:alice\nstatus:busy\nname:bob\nname:anonymous\n");

    // Once sent, the next change starts a new UPDATE.
    client->requests().recycle(client->requests().pop());
    EXPECT_TRUE(client->command(2, "away"));
    ASSERT_EQ(client->requests().queuedCount(), 1);
    EXPECT_EQ(payload(client->requests().front()), "status:away\n");
    EXPECT_TRUE(logged(messages(*client), "Set status=[away]"));
}

TEST_F(VoiceClientTest, ANameSetWhileIdleTravelsInTheAnnounce) {
    EXPECT_TRUE(client->setName("carol"));
    EXPECT_TRUE(client->setStatus("here"));
    EXPECT_EQ(client->requests().front(), nullptr);
    ASSERT_TRUE(client->announce());
    EXPECT_EQ(payload(client->requests().front()),
              "name:carol\nstatus:here\nversion:1.0.0\ncodec:opus/32000\n");
}

TEST_F(VoiceClientTest, AfterFailureANameIsOnlyStoredAndResetForgetsIt) {
    client->enterState(E_QELCS_FAILED);
    EXPECT_TRUE(client->setName("dave"));
    EXPECT_EQ(client->requests().front(), nullptr);
    client->reset();
    ASSERT_TRUE(client->announce());
    EXPECT_EQ(payload(client->requests().front()).substr(0, 15), "name:anonymous\n");
}

TEST_F(VoiceClientTest, LongNamesAreCutToWhatTheNameFieldCarries) {
    const std::string seventy(70, 'n');
    EXPECT_TRUE(client->setName(seventy.c_str()));
    ASSERT_TRUE(client->announce());
    // Stored as 63 characters; the field takes at most 62, and the name is sent cut
    // rather than left out of the packet.
    EXPECT_EQ(payload(client->requests().front()).substr(0, 5 + 62 + 1),
              "name:" + std::string(62, 'n') + "\n");
    // Setting the same first 63 characters again changes nothing.
    client->enterState(E_QELCS_CONNECTED);
    EXPECT_TRUE(client->setName((seventy + "xyz").c_str()));
    EXPECT_EQ(client->requests().queuedCount(), 1);
}

TEST_F(VoiceClientTest, OtherCommandKindsAreRefused) {
    client->enterState(E_QELCS_CONNECTED);
    EXPECT_FALSE(client->command(3, "x"));
    EXPECT_FALSE(client->command(0, "x"));
    EXPECT_EQ(client->requests().front(), nullptr);
    EXPECT_TRUE(client->command(1, "erin"));
}

TEST_F(VoiceClientTest, ANinthRequestFindsNoSlot) {
    client->enterState(E_QELCS_CONNECTED);
    for (int i = 0; i < 8; ++i) {
        ASSERT_TRUE(client->dtmf(1));
    }
    EXPECT_FALSE(client->dtmf(2));
    // A name change is kept but cannot be sent.
    EXPECT_TRUE(client->setName("frank"));
    EXPECT_FALSE(client->disconnect());
    EXPECT_EQ(client->state(), E_QELCS_CONNECTED);
    EXPECT_EQ(client->requests().queuedCount(), 8);
    const auto lines = messages(*client);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Out of sReq slots!"), 3);
}

TEST_F(VoiceClientTest, ARequestIsRefusedWhileAnotherHolderKeepsTheLock) {
    ASSERT_TRUE(client->lock().tryAcquire(kLockPoll));
    const uint32_t start = platform::nowMs();
    EXPECT_FALSE(client->announce());
    const uint32_t waited = platform::nowMs() - start;
    // 20 attempts 1 ms apart. With the system's default timer period (15.6 ms on
    // Windows) the 19 sleeps would take about 300 ms: a client keeps sleeps fine.
    EXPECT_GE(waited, 19u);
    EXPECT_LT(waited, 150u);
    EXPECT_FALSE(client->setName("x"));
    EXPECT_EQ(client->state(), E_QELCS_IDLE);
    EXPECT_EQ(client->requests().front(), nullptr);
    EXPECT_EQ(client->lock().holder(), kLockPoll);  // the refused caller did not clear it
    const auto lines = messages(*client);
    EXPECT_TRUE(logged(lines, "LOCK RACE CONDITION! 4 competing with 8\n"));
    EXPECT_TRUE(logged(lines, "LOCK RACE CONDITION! 2 competing with 8\n"));
    EXPECT_FALSE(logged(lines, "Set name=[x]"));

    client->lock().release(kLockPoll);
    EXPECT_TRUE(client->announce());
}

TEST_F(VoiceClientTest, ResetDropsRequestsAndTheLog) {
    client->enterState(E_QELCS_CONNECTED);
    for (int i = 0; i < 8; ++i) {
        ASSERT_TRUE(client->dtmf(1));
    }
    client->m_token = 99;
    client->reset();
    EXPECT_EQ(client->state(), E_QELCS_IDLE);
    EXPECT_EQ(client->token(), 0u);
    EXPECT_EQ(client->requests().freeCount(), 8);
    EXPECT_STREQ(client->errorText(), "");
    EXPECT_EQ(messages(*client), std::vector<std::string>{"Client object initialised"});
}

}  // namespace
}  // namespace session
