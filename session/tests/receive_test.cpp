// The receive path: reassembly, the checks on receipt and the dispatch by state.
#include <cstring>

#include "session/tests/session_test_support.h"
#include "session/udp_address.h"

namespace session::testing {
namespace {

using Bytes = std::vector<uint8_t>;

class ReceiveTest : public SessionTest {};

TEST_F(ReceiveTest, AnAnnounceAnswerSplitAnywhereIsTakenWhenItsLastPieceArrives) {
    const Bytes answer = announceOk();
    for (size_t cut = 1; cut < answer.size(); ++cut) {
        SCOPED_TRACE(cut);
        client->reset();
        ASSERT_TRUE(client->announce());
        receive(Bytes(answer.begin(), answer.begin() + static_cast<long>(cut)));
        EXPECT_EQ(client->state(), E_QELCS_ANNOUNCING);
        EXPECT_EQ(client->m_receiveFill, static_cast<int32_t>(cut));
        receive(Bytes(answer.begin() + static_cast<long>(cut), answer.end()));
        EXPECT_EQ(client->state(), E_QELCS_ANNOUNCED);
        EXPECT_EQ(client->m_receiveFill, 0);
    }
}

TEST_F(ReceiveTest, JoinedPacketsAreAllProcessedAndAPartialTailStaysBuffered) {
    enter(E_QELCS_CONNECTING);
    const Bytes ok = serverPacket(E_QELPT_CONNECT_TO, E_QELPS_OK);
    const Bytes netstate = serverPacket(E_QELPT_NETSTATE, E_QELPS_NONE, "under5:7\n");
    Bytes stream = joined({serverPacket(E_QELPT_CONNECT_TO, E_QELPS_TRYING), ok, netstate});
    stream.insert(stream.end(), netstate.begin(), netstate.begin() + 20);
    receive(stream);
    EXPECT_EQ(client->state(), E_QELCS_CONNECTED);
    EXPECT_EQ(client->m_receiveFill, 20);
    const auto lines = messages(*client);
    EXPECT_TRUE(logged(lines, "Server 5 sec network report: 7 packets lost"));
    EXPECT_TRUE(logged(lines, "NetRecv pkt->len=25, len=20"));
}

// Each bad packet comes first in a block, with a NETSTATE after it: the log line says
// why it was refused, and whether the walk went on shows in the NETSTATE's line.
TEST_F(ReceiveTest, EachCheckRejectsItsPacket) {
    auto withHeader = [](auto change) {
        Bytes p = serverPacket(E_QELPT_NETSTATE, E_QELPS_NONE, "under5:1\n");
        PacketHeader h = readHeader(p.data());
        change(h);
        writeHeader(p.data(), h);
        return p;
    };
    struct Case {
        const char* name;
        Bytes bad;
        const char* message;
        bool walkGoesOn;
    };
    const Case cases[] = {
        {"type 0", withHeader([](PacketHeader& h) { h.type = 0; }), "NetRecv bad pkt->type=0", true},
        {"type 9", withHeader([](PacketHeader& h) { h.type = 9; }), "NetRecv bad pkt->type=9", true},
        {"status 9", withHeader([](PacketHeader& h) { h.status = 9; }), "NetRecv bad pkt->type=8", true},
        {"token 0", withHeader([](PacketHeader& h) { h.token = 0; }), "NetRecv bad token=00000000", true},
        {"other token", withHeader([](PacketHeader& h) { h.token = 0x1234; }), "NetRecv bad token=00001234", true},
        {"magic", withHeader([](PacketHeader& h) { h.magic = 0x57721567; }), "NetRecv - dodgy magic", false},
        {"len 15", withHeader([](PacketHeader& h) { h.len = 15; }), "NetRecv bad pkt->len=15", false},
        {"len 0", withHeader([](PacketHeader& h) { h.len = 0; }), "NetRecv bad pkt->len=0", false},
    };
    const Bytes good = serverPacket(E_QELPT_NETSTATE, E_QELPS_NONE, "under5:42\n");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        client->reset();
        enter(E_QELCS_CONNECTED);
        receive(joined({c.bad, good}));
        const auto lines = messages(*client);
        EXPECT_TRUE(logged(lines, c.message));
        EXPECT_FALSE(logged(lines, "Server 5 sec network report: 1 packets lost"));
        EXPECT_EQ(logged(lines, "Server 5 sec network report: 42 packets lost"), c.walkGoesOn);
        EXPECT_EQ(client->m_receiveFill, 0);
    }
}

TEST_F(ReceiveTest, ATokenOtherThanZeroPassesUntilTheClientHoldsOne) {
    ASSERT_TRUE(client->announce());
    receive(serverPacket(E_QELPT_ANNOUNCE, E_QELPS_OK, "udpaddr:10.0.0.1:9\nenckey:" + kKey + "\n", 0x77));
    EXPECT_EQ(client->state(), E_QELCS_ANNOUNCED);
    EXPECT_EQ(client->token(), 0x77u);
}

TEST_F(ReceiveTest, InputBeyondTheBufferDropsEverythingPendingAndTheStreamResumes) {
    enter(E_QELCS_CONNECTED);
    Bytes big = serverPacket(E_QELPT_NETSTATE, E_QELPS_NONE, std::string(2990, 'x'));
    receive(Bytes(big.begin(), big.begin() + 2990));
    EXPECT_EQ(client->m_receiveFill, 2990);
    receive(Bytes(big.begin() + 2990, big.begin() + 3001));
    EXPECT_EQ(client->m_receiveFill, 0);
    receive(serverPacket(E_QELPT_NETSTATE, E_QELPS_NONE, "under5:3\n"));
    EXPECT_TRUE(logged(messages(*client), "Server 5 sec network report: 3 packets lost"));
}

TEST_F(ReceiveTest, IdleAndFailedClientsDropInputUnread) {
    for (ClientState state : {E_QELCS_IDLE, E_QELCS_FAILED}) {
        client->enterState(state);
        receive(serverPacket(E_QELPT_NETSTATE, E_QELPS_NONE, "under5"));
        EXPECT_EQ(client->m_receiveFill, 0);
        EXPECT_EQ(client->state(), state);
    }
}

// The fault this path had to avoid: a datagram must never land inside a TCP packet that
// is still being reassembled.
TEST_F(ReceiveTest, ADatagramNeverLandsInsideAPendingTcpPacket) {
    enter(E_QELCS_CONNECTED);
    const Bytes netstate = serverPacket(E_QELPT_NETSTATE, E_QELPS_NONE, "under5:5\n");
    receive(Bytes(netstate.begin(), netstate.begin() + 10));
    FakeClock::now += 40;
    Bytes voice = serverPacket(E_QELPT_RTP, E_QELPS_NONE, std::string(30, 'v'));
    // A datagram whose second packet is cut off: that piece can never be completed.
    voice.insert(voice.end(), voice.begin(), voice.begin() + 20);
    receive(voice, true);
    EXPECT_EQ(client->lastVoiceReceive(), FakeClock::now);
    EXPECT_EQ(client->m_receiveFill, 10);
    receive(Bytes(netstate.begin() + 10, netstate.end()));
    EXPECT_EQ(client->m_receiveFill, 0);
    EXPECT_TRUE(logged(messages(*client), "Server 5 sec network report: 5 packets lost"));
}

TEST_F(ReceiveTest, AnnounceAnswersThatFailNameTheirReason) {
    struct Case {
        Bytes answer;
        const char* error;
    };
    const Case cases[] = {
        {serverPacket(E_QELPT_ANNOUNCE, E_QELPS_NOTFOUND, "error:no such user\n"),
         "ANNOUNCE error: E_QELPS_NOTFOUND - no such user"},
        {serverPacket(E_QELPT_ANNOUNCE, E_QELPS_NOPRIV), "ANNOUNCE error: E_QELPS_NOPRIV - "},
        {serverPacket(E_QELPT_ANNOUNCE, E_QELPS_OK, "enckey:" + kKey + "\n"),
         "ANNOUNCE error: No UDPADDR in response"},
        {announceOk("127.0.0.1:0"), "ANNOUNCE error: Invalid UDPADDR=127.0.0.1:0"},
        {announceOk("255.255.255.255:80"), "ANNOUNCE error: Invalid UDPADDR=255.255.255.255:80"},
        {serverPacket(E_QELPT_ANNOUNCE, E_QELPS_OK, "udpaddr:1.2.3.4:5\n"), "ANNOUNCE error: No ENCKEY in response"},
        // 31 characters, and the bytes after it must not complete the key.
        {serverPacket(E_QELPT_ANNOUNCE, E_QELPS_OK, "udpaddr:1.2.3.4:5\nenckey:" + kKey.substr(1) + "\nx"),
         "ANNOUNCE error: No ENCKEY in response"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.error);
        client->reset();
        ASSERT_TRUE(client->announce());
        receive(c.answer);
        EXPECT_EQ(client->state(), E_QELCS_FAILED);
        EXPECT_STREQ(client->errorText(), c.error);
        EXPECT_EQ(client->token(), 0u);
        EXPECT_TRUE(logged(messages(*client), c.error));
    }
}

TEST_F(ReceiveTest, ASuccessfulAnnounceAnswerStoresTokenEndpointAndKey) {
    ASSERT_TRUE(client->announce());
    receive(announceOk("10.20.30.40:65535"), true);
    EXPECT_EQ(client->state(), E_QELCS_ANNOUNCING) << "an answer over UDP does not count";
    receive(announceOk("10.20.30.40:65535"));
    EXPECT_EQ(client->state(), E_QELCS_ANNOUNCED);
    EXPECT_EQ(client->token(), kServerToken);
    const uint8_t expected[4] = {10, 20, 30, 40};
    EXPECT_EQ(std::memcmp(&client->m_serverAddress, expected, 4), 0);
    EXPECT_EQ(client->m_serverPort, 65535);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(client->m_voiceKey), 32), kKey);
    EXPECT_EQ(client->m_sendSequence, 0u);
    EXPECT_TRUE(logged(messages(*client), "Announced, got token=51A7E001, udpaddr=10.20.30.40:65535"));
}

TEST_F(ReceiveTest, ConnectAnswersCountOnlyOverTcp) {
    enter(E_QELCS_CONNECTING);
    receive(serverPacket(E_QELPT_CONNECT_TO, E_QELPS_OK), true);
    EXPECT_EQ(client->state(), E_QELCS_CONNECTING);
    receive(serverPacket(E_QELPT_CONNECT_TO, E_QELPS_TRYING));
    EXPECT_EQ(client->state(), E_QELCS_CONNECTING);
    receive(serverPacket(E_QELPT_CONNECT_TO, E_QELPS_NOTFOUND, "error:no service\n"));
    EXPECT_EQ(client->state(), E_QELCS_FAILED);
    EXPECT_STREQ(client->errorText(), "CONNECT error: Server returned: E_QELPS_NOTFOUND - no service");
}

TEST_F(ReceiveTest, APingAnswerByEitherTransportEndsProbing) {
    for (bool viaUdp : {true, false}) {
        enter(E_QELCS_PROBING);
        receive(serverPacket(E_QELPT_PING, E_QELPS_NONE), viaUdp);
        EXPECT_EQ(client->state(), E_QELCS_NETREADY);
    }
}

TEST_F(ReceiveTest, TheServersDisconnectEndsEveryStateAndTheWalk) {
    for (ClientState state : {E_QELCS_ANNOUNCING, E_QELCS_ANNOUNCED, E_QELCS_PROBING, E_QELCS_NETREADY,
                              E_QELCS_CONNECTING, E_QELCS_CONNECTED}) {
        SCOPED_TRACE(state);
        client->reset();
        enter(state);
        receive(joined({serverPacket(E_QELPT_DISCONNECT, E_QELPS_NONE),
                        serverPacket(E_QELPT_NETSTATE, E_QELPS_NONE, "under5:9\n")}));
        EXPECT_EQ(client->state(), E_QELCS_DISCONNECTED);
        EXPECT_EQ(client->m_receiveFill, 0);
        const auto lines = messages(*client);
        EXPECT_TRUE(logged(lines, "Server disconnected (token=51A7E001)"));
        EXPECT_FALSE(loggedPrefix(lines, "Server 5 sec"));
        ASSERT_NE(client->requests().front(), nullptr);
        EXPECT_EQ(client->requests().front()->packet.type(), E_QELPT_DISCONNECT);
    }
}

TEST_F(ReceiveTest, TheServersDisconnectEndsTheSessionEvenWithNoSlotLeft) {
    enter(E_QELCS_CONNECTED);
    for (int i = 0; i < RequestQueue::kSlots; ++i) {
        ASSERT_TRUE(client->dtmf(1));
    }
    receive(serverPacket(E_QELPT_DISCONNECT, E_QELPS_NONE));
    EXPECT_EQ(client->state(), E_QELCS_DISCONNECTED);
}

TEST_F(ReceiveTest, VoiceOpensTheGateOnlyWhenConnected) {
    enter(E_QELCS_CONNECTING);
    receive(serverPacket(E_QELPT_RTP, E_QELPS_NONE, std::string(40, 'v')), true);
    EXPECT_EQ(client->lastVoiceReceive(), 0u);
    enter(E_QELCS_CONNECTED);
    // Too short for the voice path, but it still shows that the far end is sending.
    receive(serverPacket(E_QELPT_RTP, E_QELPS_NONE, "abcd"), true);
    EXPECT_EQ(client->lastVoiceReceive(), FakeClock::now);
}

TEST(UdpAddress, FollowsTheClassicAddressRules) {
    struct Case {
        const char* text;
        bool usable;
        uint8_t address[4];
        int32_t port;
    };
    const Case cases[] = {
        {"127.0.0.1:5000", true, {127, 0, 0, 1}, 5000},
        {"10.1:80", true, {10, 0, 0, 1}, 80},
        {"10.1.258:80", true, {10, 1, 1, 2}, 80},
        {"0x7f.1:1", true, {127, 0, 0, 1}, 1},
        {"017.0.0.1:65535", true, {15, 0, 0, 1}, 65535},
        {"4294967294:7", true, {255, 255, 255, 254}, 7},
        {"0.0.0.0:7", true, {0, 0, 0, 0}, 7},
        {"4294967295:7", false, {}, 0},
        {"255.255.255.255:7", false, {}, 0},
        {"1.2.3.256:1", false, {}, 0},
        {"256.1.1:1", false, {}, 0},
        {"1.2.3.4.5:1", false, {}, 0},
        {"08.1.1.1:1", false, {}, 0},
        {"0x:1", false, {}, 0},
        {"1..2:1", false, {}, 0},
        {"1.2.3.4 :1", false, {}, 0},
        {":80", false, {}, 0},
        {"1.2.3.4", false, {}, 0},
        {"1.2.3.4:", false, {}, 0},
        {"1.2.3.4:0", false, {}, 0},
        {"1.2.3.4:65536", false, {}, 0},
        {"1.2.3.4:80x", false, {}, 0},
        {"1.2.3.4:-1", false, {}, 0},
        {"001.002.003.004:1", true, {1, 2, 3, 4}, 1},  // a host of 15 characters
        {"001.002.003.0004:1", false, {}, 0},          // 16: refused, not cut
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        uint32_t address = 1;
        int32_t port = 1;
        EXPECT_EQ(parseUdpAddr(c.text, std::strlen(c.text), address, port), c.usable);
        EXPECT_EQ(std::memcmp(&address, c.address, 4), 0);
        EXPECT_EQ(port, c.port);
    }
}

}  // namespace
}  // namespace session::testing
