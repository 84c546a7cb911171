// The real qel-server program, started on port 0 and spoken to over loopback TCP and
// UDP with packets built by the session library's packet builder.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "session/fields.h"
#include "session/packet.h"
#include "tools/qel-server/tests/test_packets.h"

namespace {

using namespace session;
using Clock = std::chrono::steady_clock;

using Packet = qelserver::testing::ParsedPacket;
using qelserver::testing::control;
using qelserver::testing::parsePacket;
using qelserver::testing::voice;

// One qel-server process, stopped with SIGTERM at the end unless a test did so.
class ServerProcess {
  public:
    explicit ServerProcess(std::vector<std::string> args) {
        int out[2];
        if (pipe(out) != 0) {
            return;
        }
        m_pid = fork();
        if (m_pid == 0) {
            dup2(out[1], STDOUT_FILENO);
            close(out[0]);
            close(out[1]);
            std::vector<char*> argv;
            argv.push_back(const_cast<char*>(QEL_SERVER_PATH));
            for (std::string& a : args) {
                argv.push_back(a.data());
            }
            argv.push_back(nullptr);
            execv(QEL_SERVER_PATH, argv.data());
            _exit(127);
        }
        close(out[1]);
        m_stdout = out[0];
        // The listening line tells the ports; wait up to 10 s for it.
        std::string line;
        const auto deadline = Clock::now() + std::chrono::seconds(10);
        while (line.find('\n') == std::string::npos && Clock::now() < deadline) {
            pollfd p{m_stdout, POLLIN, 0};
            if (poll(&p, 1, 100) > 0) {
                char c;
                if (read(m_stdout, &c, 1) != 1) {
                    break;
                }
                line += c;
            }
        }
        unsigned tcp = 0;
        unsigned udp = 0;
        if (std::sscanf(line.c_str(), "qel-server listening tcp=%u udp=%u", &tcp, &udp) == 2) {
            m_tcpPort = static_cast<uint16_t>(tcp);
            m_udpPort = static_cast<uint16_t>(udp);
        }
    }

    ~ServerProcess() {
        if (m_pid > 0) {
            stop(SIGTERM);
        }
        if (m_stdout >= 0) {
            close(m_stdout);
        }
    }

    bool ready() const { return m_tcpPort != 0 && m_udpPort != 0; }
    uint16_t tcpPort() const { return m_tcpPort; }
    uint16_t udpPort() const { return m_udpPort; }

    // Sends the signal and waits up to 5 s; the exit status, or -1 if it did not end.
    int stop(int signal) {
        kill(m_pid, signal);
        const auto deadline = Clock::now() + std::chrono::seconds(5);
        int status = 0;
        while (Clock::now() < deadline) {
            if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_pid = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            usleep(10'000);
        }
        kill(m_pid, SIGKILL);
        waitpid(m_pid, &status, 0);
        m_pid = -1;
        return -1;
    }

  private:
    pid_t m_pid = -1;
    int m_stdout = -1;
    uint16_t m_tcpPort = 0;
    uint16_t m_udpPort = 0;
};

// A client's two sockets: the TCP connection and a UDP socket aimed at the server.
class Client {
  public:
    explicit Client(const ServerProcess& server) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(server.tcpPort());
        m_tcp = socket(AF_INET, SOCK_STREAM, 0);
        m_connected = connect(m_tcp, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        const int on = 1;
        setsockopt(m_tcp, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        a.sin_port = htons(server.udpPort());
        m_udp = socket(AF_INET, SOCK_DGRAM, 0);
        m_connected = m_connected && connect(m_udp, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    }
    ~Client() {
        close(m_tcp);
        close(m_udp);
    }

    bool connected() const { return m_connected; }

    void sendTcp(const std::vector<uint8_t>& bytes) {
        ASSERT_EQ(send(m_tcp, bytes.data(), bytes.size(), MSG_NOSIGNAL),
                  static_cast<ssize_t>(bytes.size()));
    }
    void sendUdp(const std::vector<uint8_t>& bytes) {
        ASSERT_EQ(send(m_udp, bytes.data(), bytes.size(), 0), static_cast<ssize_t>(bytes.size()));
    }

    // The next whole packet from the TCP stream, or nothing within the time.
    std::optional<Packet> tcpPacket(int timeoutMs = 2000) {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            if (m_stream.size() >= 16) {
                const size_t len = readHeader(m_stream.data()).len;
                if (len >= 16 && m_stream.size() >= len) {
                    std::vector<uint8_t> bytes(m_stream.begin(),
                                               m_stream.begin() + static_cast<long>(len));
                    m_stream.erase(m_stream.begin(), m_stream.begin() + static_cast<long>(len));
                    return parsePacket(std::move(bytes));
                }
            }
            const int left = static_cast<int>(
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now())
                    .count());
            pollfd p{m_tcp, POLLIN, 0};
            if (left <= 0 || poll(&p, 1, left) <= 0) {
                return std::nullopt;
            }
            uint8_t buffer[4096];
            const ssize_t got = recv(m_tcp, buffer, sizeof buffer, 0);
            if (got <= 0) {
                m_closed = true;
                return std::nullopt;
            }
            m_stream.insert(m_stream.end(), buffer, buffer + got);
        }
    }

    std::optional<Packet> udpPacket(int timeoutMs = 2000) {
        pollfd p{m_udp, POLLIN, 0};
        if (poll(&p, 1, timeoutMs) <= 0) {
            return std::nullopt;
        }
        uint8_t buffer[2048];
        const ssize_t got = recv(m_udp, buffer, sizeof buffer, 0);
        if (got < 16) {
            return std::nullopt;
        }
        return parsePacket(std::vector<uint8_t>(buffer, buffer + got));
    }

    bool closedByPeer() const { return m_closed; }

    // ANNOUNCE as the session library sends it; returns the answer.
    std::optional<Packet> announce() {
        sendTcp(control(0, E_QELPT_ANNOUNCE,
                        {{E_FLD_NAME, "e2e"},
                         {E_FLD_STATUS, ""},
                         {E_FLD_VERSION, "1.0.0"},
                         {E_FLD_CODEC, "opus/32000"}}));
        return tcpPacket();
    }

    // Announce and connect to a service; returns the token (0 on failure).
    uint32_t call(const char* service, bool probeUdp) {
        const auto answer = announce();
        if (!answer || answer->header.status != E_QELPS_OK) {
            return 0;
        }
        const uint32_t token = answer->header.token;
        if (probeUdp) {
            sendUdp(control(token, E_QELPT_PING));
            if (!udpPacket()) {
                return 0;
            }
        }
        sendTcp(
            control(token, E_QELPT_CONNECT_TO, {{E_FLD_SERVICE, service}, {E_FLD_PIN, "1234"}}));
        const auto trying = tcpPacket();
        const auto ok = tcpPacket();
        if (!trying || trying->header.status != E_QELPS_TRYING || !ok ||
            ok->header.status != E_QELPS_OK) {
            return 0;
        }
        return token;
    }

  private:
    int m_tcp = -1;
    int m_udp = -1;
    bool m_connected = false;
    bool m_closed = false;
    std::vector<uint8_t> m_stream;
};

TEST(QelServer, AnnouncePingAndConnectThenEchoOverUdpAndTcp) {
    ServerProcess server({"--seed", "5"});
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
    ServerProcess server({"--ignore-udp"});
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
    ServerProcess server({});
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
    ServerProcess server({"--disconnect-after", "300"});
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
