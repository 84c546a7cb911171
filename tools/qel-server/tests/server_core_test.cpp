// The protocol core driven without sockets: packets in, answers out.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <memory>
#include <string>
#include <vector>

#include "session/packet.h"
#include "tools/qel-server/server_core.h"
#include "tools/qel-server/tests/test_packets.h"

namespace qelserver {
namespace {

using namespace session;
using namespace qelserver::testing;

constexpr UdpEndpoint kServerUdp{0x7F000001u, 40000};
constexpr UdpEndpoint kClientUdp{0x7F000001u, 50000};

struct Reply : ParsedPacket {
    Outgoing raw;
};

class ServerCoreTest : public ::testing::Test {
  protected:
    void start(const ServerOptions& options = {}, VoiceChannelFactory channels = nullptr) {
        m_core = std::make_unique<ServerCore>(
            options, kServerUdp, [this](const std::string& line) { m_log.push_back(line); },
            std::move(channels));
        m_core->tcpOpened(1, m_now);
    }

    std::vector<Reply> tcp(const std::vector<uint8_t>& bytes, ConnId c = 1) {
        m_core->tcpData(c, bytes.data(), bytes.size(), m_now);
        return replies();
    }
    std::vector<Reply> udp(const std::vector<uint8_t>& bytes) {
        m_core->udpData(kClientUdp, bytes.data(), bytes.size(), m_now);
        return replies();
    }
    std::vector<Reply> tickAt(uint64_t now) {
        m_now = now;
        m_core->tick(now);
        return replies();
    }
    std::vector<Reply> replies() {
        std::vector<Reply> out;
        for (Outgoing& o : m_core->takeOutput()) {
            Reply r;
            static_cast<ParsedPacket&>(r) = parsePacket(o.bytes);
            EXPECT_EQ(r.header.magic, kPacketMagic);
            EXPECT_EQ(r.header.len, o.bytes.size());
            r.raw = std::move(o);
            out.push_back(std::move(r));
        }
        return out;
    }

    // Announce on connection c; returns the token.
    uint32_t announce(ConnId c = 1) {
        if (c != 1) {
            m_core->tcpOpened(c, m_now);
        }
        const auto r = tcp(
            control(0, E_QELPT_ANNOUNCE,
                    {{E_FLD_NAME, "alice"}, {E_FLD_VERSION, "1.0.0"}, {E_FLD_CODEC, "opus/32000"}}),
            c);
        EXPECT_EQ(r.size(), 1u);
        return r.empty() ? 0 : r[0].header.token;
    }

    uint32_t connectEcho(bool viaUdp) {
        const uint32_t token = announce();
        if (viaUdp) {
            EXPECT_EQ(udp(control(token, E_QELPT_PING)).size(), 1u);
        }
        EXPECT_EQ(
            tcp(control(token, E_QELPT_CONNECT_TO, {{E_FLD_SERVICE, "echo"}, {E_FLD_PIN, "1"}}))
                .size(),
            2u);
        return token;
    }

    std::unique_ptr<ServerCore> m_core;
    std::vector<std::string> m_log;
    uint64_t m_now = 10'000;
};

TEST_F(ServerCoreTest, AnnounceIsAnsweredWithAFreshTokenTheUdpEndpointAndAKey) {
    start();
    const auto first = tcp(control(0, E_QELPT_ANNOUNCE, {{E_FLD_NAME, "alice"}}));
    ASSERT_EQ(first.size(), 1u);
    const Reply& r = first[0];
    EXPECT_EQ(r.raw.transport, Transport::Tcp);
    EXPECT_EQ(r.raw.connection, 1u);
    EXPECT_EQ(r.header.type, E_QELPT_ANNOUNCE);
    EXPECT_EQ(r.header.status, E_QELPS_OK);
    EXPECT_NE(r.header.token, 0u);
    EXPECT_EQ(r.field(E_FLD_UDPADDR), "127.0.0.1:40000");
    const std::string key = r.field(E_FLD_ENCKEY);
    ASSERT_EQ(key.size(), 32u);
    for (char c : key) {
        EXPECT_TRUE(std::isalnum(static_cast<unsigned char>(c))) << key;
    }
    const uint32_t second = announce(2);
    EXPECT_NE(second, r.header.token);
    ASSERT_EQ(m_core->sessionCount(), 2u);
    EXPECT_EQ(m_core->sessions()[0].name == "alice" || m_core->sessions()[1].name == "alice", true);
}

TEST_F(ServerCoreTest, TheSeedDecidesTokensAndKeys) {
    auto answerWith = [](uint64_t seed) {
        ServerOptions o;
        o.seed = seed;
        ServerCore core(o, kServerUdp, nullptr);
        core.tcpOpened(1, 0);
        const auto bytes = control(0, E_QELPT_ANNOUNCE);
        core.tcpData(1, bytes.data(), bytes.size(), 0);
        return core.takeOutput().at(0).bytes;
    };
    EXPECT_EQ(answerWith(7), answerWith(7));
    EXPECT_NE(answerWith(7), answerWith(8));
}

TEST_F(ServerCoreTest, EveryRefusalModeAnswersWithANonzeroTokenAndKeepsNoSession) {
    struct Case {
        AnnounceRefusal mode;
        uint8_t status;
        std::string error, udpaddr;
        size_t keyLength;  // 0: absent
    };
    const Case cases[] = {
        {AnnounceRefusal::Status, E_QELPS_NOTFOUND, "nobody here", "<absent>", 0},
        {AnnounceRefusal::NoEnckey, E_QELPS_OK, "<absent>", "127.0.0.1:40000", 0},
        {AnnounceRefusal::ShortEnckey, E_QELPS_OK, "<absent>", "127.0.0.1:40000", 16},
        {AnnounceRefusal::NoUdpaddr, E_QELPS_OK, "<absent>", "<absent>", 32},
        {AnnounceRefusal::BadUdpaddr, E_QELPS_OK, "<absent>", "127.0.0.1:0", 32},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(refusalName(c.mode));
        ServerOptions o;
        o.refusal = c.mode;
        o.refusalStatus = E_QELPS_NOTFOUND;
        o.refusalError = "nobody here";
        start(o);
        const auto r = tcp(control(0, E_QELPT_ANNOUNCE));
        ASSERT_EQ(r.size(), 1u);
        EXPECT_NE(r[0].header.token, 0u);
        EXPECT_EQ(r[0].header.status, c.status);
        EXPECT_EQ(r[0].field(E_FLD_ERROR), c.error);
        EXPECT_EQ(r[0].field(E_FLD_UDPADDR), c.udpaddr);
        EXPECT_EQ(r[0].field(E_FLD_ENCKEY).size(),
                  c.keyLength ? c.keyLength : std::string("<absent>").size());
        EXPECT_EQ(m_core->sessionCount(), 0u);
        // Without a session, nothing else is answered.
        EXPECT_TRUE(tcp(control(r[0].header.token, E_QELPT_PING)).empty());
    }
}

TEST_F(ServerCoreTest, PingIsAnsweredOnTheTransportItCameBy) {
    start();
    const uint32_t token = announce();
    auto r = udp(control(token, E_QELPT_PING));
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].raw.transport, Transport::Udp);
    EXPECT_EQ(r[0].raw.endpoint, kClientUdp);
    EXPECT_EQ(r[0].header.type, E_QELPT_PING);
    EXPECT_EQ(r[0].header.token, token);
    EXPECT_TRUE(m_core->sessions()[0].voiceViaUdp);

    r = tcp(control(token, E_QELPT_PING));
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].raw.transport, Transport::Tcp);
    EXPECT_FALSE(m_core->sessions()[0].voiceViaUdp);

    // A PING with a token nobody holds, or before any announce, goes unanswered.
    EXPECT_TRUE(udp(control(token + 1, E_QELPT_PING)).empty());
    EXPECT_TRUE(udp(control(0, E_QELPT_PING)).empty());
}

TEST_F(ServerCoreTest, NoPingAnswerAndIgnoreUdpOptions) {
    ServerOptions o;
    o.noPingAnswer = true;
    start(o);
    uint32_t token = announce();
    EXPECT_TRUE(udp(control(token, E_QELPT_PING)).empty());
    EXPECT_TRUE(tcp(control(token, E_QELPT_PING)).empty());

    o = {};
    o.ignoreUdp = true;
    start(o);
    token = announce();
    EXPECT_TRUE(udp(control(token, E_QELPT_PING)).empty());
    EXPECT_EQ(tcp(control(token, E_QELPT_PING)).size(), 1u);
}

TEST_F(ServerCoreTest, ConnectToAnswersTryingThenTheResult) {
    start();
    const uint32_t token = announce();
    auto r =
        tcp(control(token, E_QELPT_CONNECT_TO, {{E_FLD_SERVICE, "nowhere"}, {E_FLD_PIN, "42"}}));
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0].header.status, E_QELPS_TRYING);
    EXPECT_EQ(r[1].header.type, E_QELPT_CONNECT_TO);
    EXPECT_EQ(r[1].header.status, E_QELPS_NOTFOUND);
    EXPECT_EQ(r[1].field(E_FLD_ERROR), "unknown service 'nowhere'");

    r = tcp(control(token, E_QELPT_CONNECT_TO, {{E_FLD_PIN, "42"}}));
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[1].header.status, E_QELPS_MISSINGINFO);

    // A core without voice channels cannot mix, and says so.
    r = tcp(control(token, E_QELPT_CONNECT_TO, {{E_FLD_SERVICE, "conference"}, {E_FLD_PIN, "42"}}));
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[1].header.status, E_QELPS_CONNECTFAILED);
    EXPECT_EQ(r[1].field(E_FLD_ERROR), "conference unavailable");

    // Answers to CONNECT_TO count only over TCP; one by UDP is not answered.
    EXPECT_TRUE(udp(control(token, E_QELPT_CONNECT_TO, {{E_FLD_SERVICE, "echo"}})).empty());

    r = tcp(control(token, E_QELPT_CONNECT_TO, {{E_FLD_SERVICE, "echo"}, {E_FLD_PIN, "42"}}));
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0].header.status, E_QELPS_TRYING);
    EXPECT_EQ(r[1].header.status, E_QELPS_OK);
    EXPECT_EQ(r[1].header.token, token);
    EXPECT_EQ(m_core->sessions()[0].service, Service::Echo);
}

TEST_F(ServerCoreTest, ConnectToWithoutAnnounceIsNotConnected) {
    start();
    announce();
    auto r = tcp(control(0x1234, E_QELPT_CONNECT_TO, {{E_FLD_SERVICE, "echo"}}));
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].header.token, 0x1234u);
    EXPECT_EQ(r[0].header.status, E_QELPS_NOTCONNECTED);
}

TEST_F(ServerCoreTest, AnotherConnectionCannotUseASessionsToken) {
    start();
    const uint32_t token = announce();
    m_core->tcpOpened(2, m_now);
    EXPECT_TRUE(tcp(control(token, E_QELPT_PING), 2).empty());
    tcp(control(token, E_QELPT_DISCONNECT), 2);
    EXPECT_EQ(m_core->sessionCount(), 1u);
}

TEST_F(ServerCoreTest, EchoSendsVoiceBackTheWayTheClientSendsIt) {
    start();
    uint32_t token = connectEcho(true);
    // Voice before the client's first packet would have nowhere to go; after it, the same bytes
    // return.
    const auto packet = voice(token, 0);
    auto r = udp(packet);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].raw.transport, Transport::Udp);
    EXPECT_EQ(r[0].raw.endpoint, kClientUdp);
    EXPECT_EQ(r[0].raw.bytes, packet);

    const auto overTcp = voice(token, 1);
    r = tcp(overTcp);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].raw.transport, Transport::Tcp);
    EXPECT_EQ(r[0].raw.bytes, overTcp);
}

// Test double of a voice channel: "encodes" any frame as the 8-byte prefix and one byte.
class VoiceChannelDouble : public VoiceChannel {
  public:
    bool decode(uint8_t*, size_t, int16_t*) override { return false; }
    size_t encode(const int16_t*, uint8_t* out, size_t room) override {
        std::fill(out, out + std::min<size_t>(room, 9), uint8_t{0x5A});
        return 9;
    }
};

// A client plays and captures only once it has heard voice: echo sends it silence every
// 20 ms until its own voice arrives, then only echoes.
TEST_F(ServerCoreTest, EchoPrimesTheClientWithSilenceUntilItSpeaks) {
    start({}, [](const std::string&) { return std::make_unique<VoiceChannelDouble>(); });
    const uint32_t token = connectEcho(true);
    const uint64_t t0 = m_now;
    auto r = tickAt(t0);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].raw.transport, Transport::Udp);
    EXPECT_EQ(r[0].raw.bytes.size(), r[0].header.len);
    EXPECT_EQ(r[0].raw.bytes.back(), 0x5A);
    EXPECT_TRUE(tickAt(t0 + 10).empty());
    EXPECT_EQ(tickAt(t0 + 20).size(), 1u);
    EXPECT_EQ(m_core->nextWakeMs(), t0 + 40);

    const auto packet = voice(token, 0);
    r = udp(packet);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].raw.bytes, packet);
    EXPECT_TRUE(tickAt(t0 + 40).empty());
    EXPECT_TRUE(tickAt(t0 + 60).empty());
}

TEST_F(ServerCoreTest, VoiceIsIgnoredBeforeConnectAndWhenItHasNoSequence) {
    start();
    const uint32_t token = announce();
    EXPECT_TRUE(tcp(voice(token, 0)).empty());
    tcp(control(token, E_QELPT_CONNECT_TO, {{E_FLD_SERVICE, "echo"}}));
    std::vector<uint8_t> stub = voice(token, 0);
    stub.resize(20);
    stub[8] = 20;
    EXPECT_TRUE(tcp(stub).empty());
    EXPECT_EQ(m_core->sessions()[0].voiceReceived, 0u);
}

TEST_F(ServerCoreTest, NetstateReportsTheGapsOfEachIntervalOverTcp) {
    ServerOptions o;
    o.netstateIntervalMs = 5000;
    start(o);
    const uint32_t token = connectEcho(true);
    const uint64_t connected = m_now;
    for (uint32_t seq : {0u, 1u, 2u, 5u, 6u}) {
        udp(voice(token, seq));
    }
    EXPECT_TRUE(tickAt(connected + 4999).empty());
    auto r = tickAt(connected + 5000);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].raw.transport, Transport::Tcp);
    EXPECT_EQ(r[0].header.type, E_QELPT_NETSTATE);
    EXPECT_EQ(r[0].header.token, token);
    EXPECT_EQ(r[0].field(E_FLD_UNDER_5SEC), "2");
    EXPECT_EQ(m_core->nextWakeMs(), connected + 10000);
    r = tickAt(connected + 10000);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].field(E_FLD_UNDER_5SEC), "0");
}

TEST_F(ServerCoreTest, ClientDisconnectOrAClosedConnectionEndsTheSession) {
    start();
    const uint32_t token = connectEcho(false);
    EXPECT_TRUE(tcp(control(token, E_QELPT_DISCONNECT)).empty());
    EXPECT_EQ(m_core->sessionCount(), 0u);
    EXPECT_TRUE(tcp(voice(token, 0)).empty());

    // The same connection may announce again; closing it ends that session too.
    announce();
    EXPECT_EQ(m_core->sessionCount(), 1u);
    m_core->tcpClosed(1, m_now);
    EXPECT_EQ(m_core->sessionCount(), 0u);
}

TEST_F(ServerCoreTest, ReannounceOnAConnectionReplacesItsSession) {
    start();
    const uint32_t first = announce();
    const uint32_t second = announce();
    EXPECT_NE(first, second);
    ASSERT_EQ(m_core->sessionCount(), 1u);
    EXPECT_EQ(m_core->sessions()[0].token, second);
}

TEST_F(ServerCoreTest, DisconnectAfterEndsTheCallFromTheServerSide) {
    ServerOptions o;
    o.disconnectAfterMs = 1500;
    start(o);
    const uint32_t token = connectEcho(false);
    EXPECT_EQ(m_core->nextWakeMs(), m_now + 1500);
    EXPECT_TRUE(tickAt(m_now + 1499).empty());
    const auto r = tickAt(m_now + 1);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].header.type, E_QELPT_DISCONNECT);
    EXPECT_EQ(r[0].header.token, token);
    EXPECT_EQ(r[0].header.len, 16);
    EXPECT_EQ(m_core->sessionCount(), 0u);
}

TEST_F(ServerCoreTest, TcpStreamIsReassembledAndABrokenOneIsClosed) {
    start();
    std::vector<uint8_t> bytes = control(0, E_QELPT_ANNOUNCE, {{E_FLD_NAME, "split"}});
    size_t answered = 0;
    for (uint8_t b : bytes) {
        answered += tcp({b}).size();
    }
    EXPECT_EQ(answered, 1u);
    const uint32_t token = m_core->sessions().at(0).token;

    // Two requests in one piece, with a bad-type packet between them that is skipped.
    std::vector<uint8_t> joined = control(token, E_QELPT_PING);
    std::vector<uint8_t> bad = control(token, E_QELPT_PING);
    bad[10] = 9;
    joined.insert(joined.end(), bad.begin(), bad.end());
    const auto ping = control(token, E_QELPT_PING);
    joined.insert(joined.end(), ping.begin(), ping.end());
    EXPECT_EQ(tcp(joined).size(), 2u);
    EXPECT_TRUE(m_core->takeClosures().empty());

    std::vector<uint8_t> broken = control(token, E_QELPT_PING);
    broken[0] = 0;
    EXPECT_TRUE(tcp(broken).empty());
    EXPECT_EQ(m_core->takeClosures(), std::vector<ConnId>{1});
    EXPECT_EQ(m_core->sessionCount(), 0u);
}

TEST_F(ServerCoreTest, ImpairedEchoIsDelayedLostOrReorderedReproducibly) {
    ServerOptions o;
    o.seed = 11;
    o.impairment.lossPercent = 20;
    o.impairment.jitterMs = 30;
    o.impairment.reorderPercent = 10;
    auto run = [&] {
        start(o);
        const uint32_t token = connectEcho(true);
        std::vector<uint32_t> arrived;
        for (uint32_t seq = 0; seq < 300; ++seq) {
            m_now += 20;
            for (const Reply& r : udp(voice(token, seq))) {
                arrived.push_back(r.raw.bytes[20]);
            }
            for (const Reply& r : tickAt(m_now)) {
                if (r.header.type == E_QELPT_RTP) {
                    arrived.push_back(r.raw.bytes[20]);
                }
            }
        }
        for (const Reply& r : tickAt(m_now + 1000)) {
            if (r.header.type == E_QELPT_RTP) {
                arrived.push_back(r.raw.bytes[20]);
            }
        }
        return arrived;
    };
    const std::vector<uint32_t> first = run();
    EXPECT_EQ(first, run());
    EXPECT_GT(first.size(), 200u);
    EXPECT_LT(first.size(), 280u);
    EXPECT_FALSE(std::is_sorted(first.begin(), first.end()));
}

}  // namespace
}  // namespace qelserver
