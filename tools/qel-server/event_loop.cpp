#include "tools/qel-server/event_loop.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/signalfd.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <ctime>

namespace qelserver {

namespace {

// epoll tags: the fixed sockets first, then connection ids shifted past them.
constexpr uint64_t kTagListener = 0;
constexpr uint64_t kTagUdp = 1;
constexpr uint64_t kTagSignals = 2;
constexpr uint64_t kFirstConnectionTag = 16;

constexpr size_t kReadChunk = 64 * 1024;

std::string systemError(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

sockaddr_in loopback(uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

bool boundPort(int fd, uint16_t& port) {
    sockaddr_in address{};
    socklen_t size = sizeof address;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        return false;
    }
    port = ntohs(address.sin_port);
    return true;
}

bool watch(int epoll, int fd, uint32_t events, uint64_t tag, int op = EPOLL_CTL_ADD) {
    epoll_event event{};
    event.events = events;
    event.data.u64 = tag;
    return epoll_ctl(epoll, op, fd, &event) == 0;
}

}  // namespace

uint64_t monotonicMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000 + static_cast<uint64_t>(ts.tv_nsec) / 1'000'000;
}

std::unique_ptr<EventLoop> EventLoop::open(uint16_t tcpPort, uint16_t udpPort, LogSink log,
                                           std::string& error) {
    std::unique_ptr<EventLoop> loop(new EventLoop());
    loop->m_log = std::move(log);

    loop->m_epoll.reset(epoll_create1(EPOLL_CLOEXEC));
    if (!loop->m_epoll) {
        error = systemError("epoll_create1");
        return nullptr;
    }

    loop->m_listener.reset(socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    const int on = 1;
    const sockaddr_in tcpAddress = loopback(tcpPort);
    if (!loop->m_listener ||
        setsockopt(loop->m_listener.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        bind(loop->m_listener.get(), reinterpret_cast<const sockaddr*>(&tcpAddress),
             sizeof tcpAddress) != 0 ||
        listen(loop->m_listener.get(), 16) != 0 ||
        !boundPort(loop->m_listener.get(), loop->m_tcpPort)) {
        error = systemError("TCP listener on 127.0.0.1");
        return nullptr;
    }

    loop->m_udp.reset(socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    const sockaddr_in udpAddress = loopback(udpPort);
    if (!loop->m_udp ||
        bind(loop->m_udp.get(), reinterpret_cast<const sockaddr*>(&udpAddress),
             sizeof udpAddress) != 0 ||
        !boundPort(loop->m_udp.get(), loop->m_udpPort)) {
        error = systemError("UDP socket on 127.0.0.1");
        return nullptr;
    }

    // The signals are blocked so that they only arrive through the signalfd, as
    // ordinary input of the loop.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    if (sigprocmask(SIG_BLOCK, &signals, nullptr) != 0) {
        error = systemError("sigprocmask");
        return nullptr;
    }
    loop->m_signals.reset(signalfd(-1, &signals, SFD_NONBLOCK | SFD_CLOEXEC));
    if (!loop->m_signals) {
        error = systemError("signalfd");
        return nullptr;
    }

    const int epoll = loop->m_epoll.get();
    if (!watch(epoll, loop->m_listener.get(), EPOLLIN, kTagListener) ||
        !watch(epoll, loop->m_udp.get(), EPOLLIN, kTagUdp) ||
        !watch(epoll, loop->m_signals.get(), EPOLLIN, kTagSignals)) {
        error = systemError("epoll_ctl");
        return nullptr;
    }
    return loop;
}

void EventLoop::log(const std::string& line) const {
    if (m_log) {
        m_log(line);
    }
}

int EventLoop::run(ServerCore& core) {
    epoll_event events[32];
    for (;;) {
        const uint64_t now = monotonicMs();
        const uint64_t wake = core.nextWakeMs();
        // Wake at least once a second even with nothing scheduled; it costs nothing.
        const int timeout =
            wake <= now ? 0 : static_cast<int>(std::min<uint64_t>(wake - now, 1000));
        const int count = epoll_wait(m_epoll.get(), events, 32, timeout);
        if (count < 0) {
            if (errno == EINTR) {
                continue;
            }
            log(systemError("epoll_wait"));
            return 1;
        }
        for (int i = 0; i < count; ++i) {
            const uint64_t tag = events[i].data.u64;
            if (tag == kTagSignals) {
                signalfd_siginfo info{};
                if (read(m_signals.get(), &info, sizeof info) ==
                    static_cast<ssize_t>(sizeof info)) {
                    log(std::string("stopping on SIG") +
                        sigabbrev_np(static_cast<int>(info.ssi_signo)) + ", " +
                        std::to_string(core.sessionCount()) + " session(s) open");
                    return 0;
                }
            } else if (tag == kTagListener) {
                acceptAll(core);
            } else if (tag == kTagUdp) {
                readDatagrams(core);
            } else {
                const ConnId id = tag - kFirstConnectionTag;
                auto it = m_connections.find(id);
                if (it == m_connections.end()) {
                    continue;
                }
                if (events[i].events & EPOLLOUT) {
                    if (!flush(id, it->second)) {
                        drop(core, id, "send failed");
                        continue;
                    }
                }
                if (events[i].events & (EPOLLIN | EPOLLHUP | EPOLLERR)) {
                    readConnection(core, id);
                }
            }
        }
        core.tick(monotonicMs());
        deliver(core);
    }
}

void EventLoop::acceptAll(ServerCore& core) {
    for (;;) {
        UniqueFd fd(accept4(m_listener.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
        if (!fd) {
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
                log(systemError("accept"));
            }
            return;
        }
        // Voice over TCP is a stream of small packets; Nagle would hold each one back.
        const int on = 1;
        setsockopt(fd.get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        const ConnId id = m_nextId++;
        if (!watch(m_epoll.get(), fd.get(), EPOLLIN | EPOLLRDHUP, kFirstConnectionTag + id)) {
            log(systemError("epoll_ctl"));
            continue;
        }
        m_connections[id].fd = std::move(fd);
        core.tcpOpened(id, monotonicMs());
    }
}

void EventLoop::readConnection(ServerCore& core, ConnId id) {
    std::vector<uint8_t> buffer(kReadChunk);
    for (;;) {
        auto it = m_connections.find(id);
        if (it == m_connections.end()) {
            return;
        }
        const ssize_t got = recv(it->second.fd.get(), buffer.data(), buffer.size(), 0);
        if (got > 0) {
            core.tcpData(id, buffer.data(), static_cast<size_t>(got), monotonicMs());
            deliver(core);
            continue;
        }
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return;
        }
        if (got < 0 && errno == EINTR) {
            continue;
        }
        drop(core, id, got == 0 ? "peer closed" : "receive failed");
        return;
    }
}

void EventLoop::readDatagrams(ServerCore& core) {
    uint8_t buffer[65536];
    for (;;) {
        sockaddr_in from{};
        socklen_t size = sizeof from;
        const ssize_t got = recvfrom(m_udp.get(), buffer, sizeof buffer, 0,
                                     reinterpret_cast<sockaddr*>(&from), &size);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;  // EAGAIN, or an ICMP error of an earlier send: nothing more to read now
        }
        const UdpEndpoint endpoint{ntohl(from.sin_addr.s_addr), ntohs(from.sin_port)};
        core.udpData(endpoint, buffer, static_cast<size_t>(got), monotonicMs());
        deliver(core);
    }
}

void EventLoop::deliver(ServerCore& core) {
    for (ConnId id : core.takeClosures()) {
        auto it = m_connections.find(id);
        if (it != m_connections.end()) {
            flush(id, it->second);  // the last answers, if the peer still reads
            m_connections.erase(it);
        }
    }
    for (const Outgoing& out : core.takeOutput()) {
        if (out.transport == Transport::Tcp) {
            queueTcp(core, out.connection, out.bytes);
            continue;
        }
        const sockaddr_in to = [&] {
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_port = htons(out.endpoint.port);
            a.sin_addr.s_addr = htonl(out.endpoint.address);
            return a;
        }();
        // A datagram that cannot go now is lost, exactly as on the network.
        sendto(m_udp.get(), out.bytes.data(), out.bytes.size(), MSG_NOSIGNAL,
               reinterpret_cast<const sockaddr*>(&to), sizeof to);
    }
}

void EventLoop::queueTcp(ServerCore& core, ConnId id, const std::vector<uint8_t>& bytes) {
    auto it = m_connections.find(id);
    if (it == m_connections.end()) {
        return;
    }
    Connection& c = it->second;
    if (c.pending.size() + bytes.size() > kMaxPendingSend) {
        drop(core, id, "peer does not read");
        return;
    }
    c.pending.insert(c.pending.end(), bytes.begin(), bytes.end());
    if (!flush(id, c)) {
        drop(core, id, "send failed");
    }
}

bool EventLoop::flush(ConnId id, Connection& c) {
    size_t sent = 0;
    while (sent < c.pending.size()) {
        const ssize_t n =
            send(c.fd.get(), c.pending.data() + sent, c.pending.size() - sent, MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            break;
        }
        return false;
    }
    c.pending.erase(c.pending.begin(), c.pending.begin() + static_cast<std::ptrdiff_t>(sent));
    const bool wantWrite = !c.pending.empty();
    if (wantWrite != c.watchingWrite) {
        const uint32_t events = EPOLLIN | EPOLLRDHUP | (wantWrite ? EPOLLOUT : 0u);
        watch(m_epoll.get(), c.fd.get(), events, kFirstConnectionTag + id, EPOLL_CTL_MOD);
        c.watchingWrite = wantWrite;
    }
    return true;
}

void EventLoop::drop(ServerCore& core, ConnId id, const char* why) {
    auto it = m_connections.find(id);
    if (it == m_connections.end()) {
        return;
    }
    log("tcp#" + std::to_string(id) + ": " + why);
    m_connections.erase(it);  // closing the fd also takes it out of the epoll set
    core.tcpClosed(id, monotonicMs());
}

}  // namespace qelserver
