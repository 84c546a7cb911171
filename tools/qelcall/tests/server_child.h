// The real qel-server as a child process on system-picked ports, for programs that
// call the session library through qel_api.h. (The qel-server tests' own helper includes
// <poll.h>, whose poll is not the session library's.)
#pragma once

#include <signal.h>
#include <sys/select.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace qelcall::testing {

// Started with `args`; its TCP port is 0 when it did not report ready within 10 s.
// Stopped with SIGTERM at the end.
class ServerChild {
public:
    ServerChild(const char* path, std::vector<std::string> args) {
        int out[2];
        if (pipe(out) != 0) {
            return;
        }
        m_pid = fork();
        if (m_pid == 0) {
            dup2(out[1], STDOUT_FILENO);
            close(out[0]);
            close(out[1]);
            std::vector<char*> argv{const_cast<char*>(path)};
            for (std::string& a : args) {
                argv.push_back(a.data());
            }
            argv.push_back(nullptr);
            execv(path, argv.data());
            _exit(127);
        }
        close(out[1]);
        std::string line;
        char c = 0;
        for (;;) {
            fd_set readable;
            FD_ZERO(&readable);
            FD_SET(out[0], &readable);
            timeval wait{10, 0};
            if (select(out[0] + 1, &readable, nullptr, nullptr, &wait) <= 0 || read(out[0], &c, 1) != 1 ||
                c == '\n') {
                break;
            }
            line += c;
        }
        close(out[0]);
        unsigned tcp = 0;
        unsigned udp = 0;
        if (std::sscanf(line.c_str(), "qel-server listening tcp=%u udp=%u", &tcp, &udp) == 2) {
            m_tcpPort = static_cast<uint16_t>(tcp);
        }
    }
    ~ServerChild() {
        if (m_pid > 0) {
            kill(m_pid, SIGTERM);
            waitpid(m_pid, nullptr, 0);
        }
    }
    ServerChild(const ServerChild&) = delete;
    ServerChild& operator=(const ServerChild&) = delete;
    uint16_t tcpPort() const { return m_tcpPort; }

private:
    pid_t m_pid = -1;
    uint16_t m_tcpPort = 0;
};

}  // namespace qelcall::testing
