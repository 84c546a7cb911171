// The test voice server (tools/qel-server) as a child process on loopback.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace tallix::testing {

class ServerProcess {
  public:
    // Starts the server with `args` and waits for its "listening" line.
    explicit ServerProcess(const std::vector<std::string>& args = {});
    ~ServerProcess();
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    bool running() const { return m_tcpPort != 0; }
    // Kills the server outright (SIGKILL), as a crash would, and reaps it.
    void kill();
    unsigned tcpPort() const { return m_tcpPort; }
    unsigned udpPort() const { return m_udpPort; }

  private:
    pid_t m_pid = -1;
    unsigned m_tcpPort = 0;
    unsigned m_udpPort = 0;
};

// A TCP listener on loopback that accepts connections and never answers: a server
// that has gone silent.
class SilentServer {
  public:
    SilentServer();
    ~SilentServer();
    unsigned port() const { return m_port; }

  private:
    int m_listener = -1;
    unsigned m_port = 0;
};

// A loopback TCP port with nothing listening on it.
unsigned closedPort();

}  // namespace tallix::testing
