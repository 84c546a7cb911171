// The server's sockets and its single-threaded epoll loop: a TCP listener and a UDP
// socket on 127.0.0.1, a signalfd for SIGINT and SIGTERM, and non-blocking connections
// with their own send queues. Everything the bytes mean is ServerCore's business.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/unique_fd.h"
#include "tools/qel-server/server_core.h"

namespace qelserver {

using platform::UniqueFd;

// Milliseconds of the monotonic clock.
uint64_t monotonicMs();

class EventLoop {
  public:
    // A connection whose peer stops reading is dropped once this much waits for it.
    static constexpr size_t kMaxPendingSend = 4 * 1024 * 1024;

    using LogSink = ServerCore::LogSink;

    // Binds both sockets (port 0: the system picks) and blocks SIGINT and SIGTERM into
    // a signalfd. Returns null with `error` set when anything fails.
    static std::unique_ptr<EventLoop> open(uint16_t tcpPort, uint16_t udpPort, LogSink log,
                                           std::string& error);

    uint16_t tcpPort() const noexcept { return m_tcpPort; }
    uint16_t udpPort() const noexcept { return m_udpPort; }

    // Runs until SIGINT or SIGTERM arrives (returns 0) or epoll fails (returns 1).
    int run(ServerCore& core);

  private:
    struct Connection {
        UniqueFd fd;
        std::vector<uint8_t> pending;  // bytes accepted for sending but not yet written
        bool watchingWrite = false;
    };

    EventLoop() = default;
    void acceptAll(ServerCore& core);
    void readConnection(ServerCore& core, ConnId id);
    void readDatagrams(ServerCore& core);
    void deliver(ServerCore& core);
    void queueTcp(ServerCore& core, ConnId id, const std::vector<uint8_t>& bytes);
    bool flush(ConnId id, Connection& c);
    void drop(ServerCore& core, ConnId id, const char* why);
    void log(const std::string& line) const;

    LogSink m_log;
    UniqueFd m_epoll;
    UniqueFd m_listener;
    UniqueFd m_udp;
    UniqueFd m_signals;
    uint16_t m_tcpPort = 0;
    uint16_t m_udpPort = 0;
    std::map<ConnId, Connection> m_connections;
    ConnId m_nextId = 1;
};

}  // namespace qelserver
