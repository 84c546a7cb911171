// The real qel-server program for end-to-end tests: started on port 0, its ports read
// from the line it prints, and clients with a TCP connection and a UDP socket of their
// own that speak to it with raw packets.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "session/fields.h"
#include "session/packet.h"
#include "tools/qel-server/tests/test_packets.h"

namespace qelserver::testing {

using Clock = std::chrono::steady_clock;

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
    std::optional<ParsedPacket> tcpPacket(int timeoutMs = 2000) {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            if (m_stream.size() >= 16) {
                const size_t len = session::readHeader(m_stream.data()).len;
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

    std::optional<ParsedPacket> udpPacket(int timeoutMs = 2000) {
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
    std::optional<ParsedPacket> announce() {
        sendTcp(control(0, session::E_QELPT_ANNOUNCE,
                        {{session::E_FLD_NAME, "e2e"},
                         {session::E_FLD_STATUS, ""},
                         {session::E_FLD_VERSION, "1.0.0"},
                         {session::E_FLD_CODEC, "opus/32000"}}));
        return tcpPacket();
    }

    // Announce and connect to a service; returns the token (0 on failure) and, when
    // asked, the key.
    uint32_t call(const char* service, bool probeUdp, std::string* key = nullptr) {
        const auto answer = announce();
        if (!answer || answer->header.status != session::E_QELPS_OK) {
            return 0;
        }
        if (key) {
            *key = answer->field(session::E_FLD_ENCKEY);
        }
        const uint32_t token = answer->header.token;
        if (probeUdp) {
            sendUdp(control(token, session::E_QELPT_PING));
            if (!udpPacket()) {
                return 0;
            }
        }
        sendTcp(control(token, session::E_QELPT_CONNECT_TO,
                        {{session::E_FLD_SERVICE, service}, {session::E_FLD_PIN, "1234"}}));
        const auto trying = tcpPacket();
        const auto ok = tcpPacket();
        if (!trying || trying->header.status != session::E_QELPS_TRYING || !ok ||
            ok->header.status != session::E_QELPS_OK) {
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

}  // namespace qelserver::testing
