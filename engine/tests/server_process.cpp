#include "engine/tests/server_process.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace tallix::testing {

ServerProcess::ServerProcess(const std::vector<std::string>& args) {
    int out[2];
    if (pipe(out) != 0) {
        return;
    }
    std::vector<std::string> argv = {QEL_SERVER_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> cargs;
    for (std::string& a : argv) {
        cargs.push_back(a.data());
    }
    cargs.push_back(nullptr);
    m_pid = fork();
    if (m_pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        close(out[1]);
        execv(cargs[0], cargs.data());
        _exit(127);
    }
    close(out[1]);
    FILE* stream = fdopen(out[0], "r");
    char line[256];
    while (stream != nullptr && fgets(line, sizeof line, stream) != nullptr) {
        if (std::sscanf(line, "qel-server listening tcp=%u udp=%u", &m_tcpPort, &m_udpPort) == 2) {
            break;
        }
    }
    // The server's further output goes nowhere; a closed pipe must not stop it, and it
    // prints nothing more on standard output.
    if (stream != nullptr) {
        fclose(stream);
    }
}

ServerProcess::~ServerProcess() {
    if (m_pid > 0) {
        ::kill(m_pid, SIGTERM);
        waitpid(m_pid, nullptr, 0);
    }
}

void ServerProcess::kill() {
    if (m_pid > 0) {
        ::kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }
}

namespace {

int loopbackListener(unsigned& port, bool listening) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        (listening && listen(fd, 4) != 0) ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        close(fd);
        return -1;
    }
    port = ntohs(address.sin_port);
    return fd;
}

}  // namespace

SilentServer::SilentServer() {
    m_listener = loopbackListener(m_port, true);
}

SilentServer::~SilentServer() {
    if (m_listener >= 0) {
        close(m_listener);
    }
}

unsigned closedPort() {
    unsigned port = 0;
    const int fd = loopbackListener(port, false);  // bound, never listening: refuses
    close(fd);
    return port;
}

}  // namespace tallix::testing
