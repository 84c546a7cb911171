// The real qel-server program, started on port 0 and spoken to over loopback TCP and
// UDP with packets built by the session library's packet builder.
#include <gtest/gtest.h>

#include <csignal>

#include "tools/qel-server/tests/server_process.h"

namespace {

using namespace session;
using namespace qelserver::testing;

TEST(QelServer, AnnouncePingAndConnectThenEchoOverUdpAndTcp) {
    ServerProcess server({"--seed", "5", "--no-primer"});
    ASSERT_TRUE(server.ready());
    Client client(server);
    ASSERT_TRUE(client.connected());

    const auto answer = client.announce();
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->header.type, E_QELPT_ANNOUNCE);
    EXPECT_EQ(answer->header.status, E_QELPS_OK);
    const uint32_t token = answer->header.token;
    EXPECT_NE(token, 0u);
    EXPECT_EQ(answer->field(E_FLD_UDPADDR), "127.0.0.1:" + std::to_string(server.udpPort()));
    EXPECT_EQ(answer->field(E_FLD_ENCKEY).size(), 32u);

    // PING over either transport comes back the same way.
    client.sendUdp(control(token, E_QELPT_PING));
    auto pong = client.udpPacket();
    ASSERT_TRUE(pong);
    EXPECT_EQ(pong->header.type, E_QELPT_PING);
    EXPECT_EQ(pong->header.token, token);
    client.sendTcp(control(token, E_QELPT_PING));
    pong = client.tcpPacket();
    ASSERT_TRUE(pong);
    EXPECT_EQ(pong->header.type, E_QELPT_PING);

    client.sendTcp(control(token, E_QELPT_CONNECT_TO, {{E_FLD_SERVICE, "echo"}, {E_FLD_PIN, "1"}}));
    const auto trying = client.tcpPacket();
    const auto ok = client.tcpPacket();
    ASSERT_TRUE(trying && ok);
    EXPECT_EQ(trying->header.status, E_QELPS_TRYING);
    EXPECT_EQ(ok->header.type, E_QELPT_CONNECT_TO);
    EXPECT_EQ(ok->header.status, E_QELPS_OK);

    const auto overUdp = voice(token, 0);
    client.sendUdp(overUdp);
    const auto echoedUdp = client.udpPacket();
    ASSERT_TRUE(echoedUdp);
    EXPECT_EQ(echoedUdp->bytes, overUdp);

    const auto overTcp = voice(token, 1);
    client.sendTcp(overTcp);
    const auto echoedTcp = client.tcpPacket();
    ASSERT_TRUE(echoedTcp);
    EXPECT_EQ(echoedTcp->bytes, overTcp);

    EXPECT_EQ(server.stop(SIGTERM), 0);
}

TEST(QelServer, UnknownServiceIsRefusedWithAnErrorText) {
    ServerProcess server({});
    ASSERT_TRUE(server.ready());
    Client client(server);
    const auto answer = client.announce();
    ASSERT_TRUE(answer);
    client.sendTcp(control(answer->header.token, E_QELPT_CONNECT_TO, {{E_FLD_SERVICE, "karaoke"}}));
    const auto trying = client.tcpPacket();
    const auto refused = client.tcpPacket();
    ASSERT_TRUE(trying && refused);
    EXPECT_EQ(trying->header.status, E_QELPS_TRYING);
    EXPECT_EQ(refused->header.status, E_QELPS_NOTFOUND);
    EXPECT_EQ(refused->field(E_FLD_ERROR), "unknown service 'karaoke'");
}

TEST(QelServer, EachRefusalOption) {
    struct Case {
        std::vector<std::string> args;
        uint8_t status;
        std::string error, udpaddr;
        size_t keyLength;
    };
    const std::string absent = "<absent>";
    const std::vector<Case> cases = {
        {{"--refuse-announce", "status", "--refuse-status", "E_QELPS_NOPRIV", "--refuse-error",
          "go away"},
         E_QELPS_NOPRIV,
         "go away",
         absent,
         absent.size()},
        {{"--refuse-announce=no-enckey"}, E_QELPS_OK, absent, "127.0.0.1:", absent.size()},
        {{"--refuse-announce=short-enckey"}, E_QELPS_OK, absent, "127.0.0.1:", 16},
        {{"--refuse-announce=no-udpaddr"}, E_QELPS_OK, absent, absent, 32},
        {{"--refuse-announce=bad-udpaddr"}, E_QELPS_OK, absent, "127.0.0.1:0", 32},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[0] + " " + (c.args.size() > 1 ? c.args[1] : ""));
        ServerProcess server(c.args);
        ASSERT_TRUE(server.ready());
        Client client(server);
        const auto answer = client.announce();
        ASSERT_TRUE(answer);
        EXPECT_NE(answer->header.token, 0u);
        EXPECT_EQ(answer->header.status, c.status);
        EXPECT_EQ(answer->field(E_FLD_ERROR), c.error);
        std::string udpaddr = answer->field(E_FLD_UDPADDR);
        if (c.udpaddr == "127.0.0.1:") {
            udpaddr = udpaddr.substr(0, c.udpaddr.size());  // the port is the system's choice
        }
        EXPECT_EQ(udpaddr, c.udpaddr);
        EXPECT_EQ(answer->field(E_FLD_ENCKEY).size(), c.keyLength);
    }
}

TEST(QelServer, IgnoreUdpLeavesOnlyTheTcpPingAnswered) {
    ServerProcess server({"--ignore-udp", "--no-primer"});
    ASSERT_TRUE(server.ready());
    Client client(server);
    const uint32_t token = client.announce()->header.token;
    client.sendUdp(control(token, E_QELPT_PING));
    EXPECT_FALSE(client.udpPacket(300));
    client.sendTcp(control(token, E_QELPT_PING));
    EXPECT_TRUE(client.tcpPacket());

    // Voice then travels over TCP, both ways.
    client.sendTcp(control(token, E_QELPT_CONNECT_TO, {{E_FLD_SERVICE, "echo"}}));
    ASSERT_TRUE(client.tcpPacket());
    ASSERT_TRUE(client.tcpPacket());
    client.sendUdp(voice(token, 0));
    client.sendTcp(voice(token, 1));
    const auto echoed = client.tcpPacket();
    ASSERT_TRUE(echoed);
    EXPECT_EQ(echoed->bytes, voice(token, 1));
    EXPECT_FALSE(client.udpPacket(200));
}

TEST(QelServer, NoPingAnswerAnswersNeitherTransport) {
    ServerProcess server({"--no-ping-answer"});
    ASSERT_TRUE(server.ready());
    Client client(server);
    const uint32_t token = client.announce()->header.token;
    client.sendUdp(control(token, E_QELPT_PING));
    client.sendTcp(control(token, E_QELPT_PING));
    EXPECT_FALSE(client.udpPacket(300));
    EXPECT_FALSE(client.tcpPacket(300));
}

TEST(QelServer, ClientDisconnectEndsTheSession) {
    ServerProcess server({"--no-primer"});
    ASSERT_TRUE(server.ready());
    Client client(server);
    const uint32_t token = client.call("echo", true);
    ASSERT_NE(token, 0u);
    client.sendTcp(control(token, E_QELPT_DISCONNECT));
    // The token is gone: neither PING nor voice is answered any more.
    client.sendUdp(control(token, E_QELPT_PING));
    client.sendUdp(voice(token, 0));
    EXPECT_FALSE(client.udpPacket(300));
    // The connection stays usable for a new announce.
    const auto again = client.announce();
    ASSERT_TRUE(again);
    EXPECT_NE(again->header.token, token);
}

TEST(QelServer, ServerDisconnectsAfterTheGivenTime) {
    ServerProcess server({"--disconnect-after", "300", "--no-primer"});
    ASSERT_TRUE(server.ready());
    Client client(server);
    const uint32_t token = client.call("echo", false);
    ASSERT_NE(token, 0u);
    const auto start = Clock::now();
    const auto bye = client.tcpPacket(3000);
    ASSERT_TRUE(bye);
    EXPECT_EQ(bye->header.type, E_QELPT_DISCONNECT);
    EXPECT_EQ(bye->header.token, token);
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(1500));
}

TEST(QelServer, NetstateReportsTheVoiceLostOnTheWayIn) {
    ServerProcess server({"--netstate-interval", "300"});
    ASSERT_TRUE(server.ready());
    Client client(server);
    const uint32_t token = client.call("echo", true);
    ASSERT_NE(token, 0u);
    for (uint32_t seq : {0u, 1u, 4u, 5u}) {
        client.sendUdp(voice(token, seq));
        ASSERT_TRUE(client.udpPacket());
    }
    const auto report = client.tcpPacket(2000);
    ASSERT_TRUE(report);
    EXPECT_EQ(report->header.type, E_QELPT_NETSTATE);
    EXPECT_EQ(report->field(E_FLD_UNDER_5SEC), "2");
}

TEST(QelServer, BrokenStreamIsClosedAndOthersCarryOn) {
    ServerProcess server({});
    ASSERT_TRUE(server.ready());
    Client broken(server);
    Client fine(server);
    broken.sendTcp(std::vector<uint8_t>(32, 0xAB));
    EXPECT_FALSE(broken.tcpPacket(2000));
    EXPECT_TRUE(broken.closedByPeer());
    EXPECT_TRUE(fine.announce());
}

TEST(QelServer, StopsCleanlyOnSigintAndSigterm) {
    for (int signal : {SIGINT, SIGTERM}) {
        ServerProcess server({});
        ASSERT_TRUE(server.ready());
        Client client(server);
        ASSERT_NE(client.call("echo", true), 0u);
        EXPECT_EQ(server.stop(signal), 0) << strsignal(signal);
    }
}

TEST(QelServer, RejectsBadOptionsAndPrintsHelp) {
    ServerProcess bad({"--loss", "200"});
    EXPECT_FALSE(bad.ready());
    EXPECT_EQ(bad.stop(0), 2);
}

}  // namespace
