#include "engine/tests/tcp_test_host.h"

#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

namespace tallix::testing {

namespace {

bool readFully(int fd, uint8_t* data, size_t length) {
    while (length > 0) {
        const ssize_t n = recv(fd, data, length, 0);
        if (n <= 0) {
            return false;
        }
        data += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

TcpTestHost::~TcpTestHost() {
    disconnectNetwork();
}

bool TcpTestHost::connectTcp(const std::string& host, uint16_t port) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &list) != 0) {
        return false;
    }
    const int fd = socket(list->ai_family, list->ai_socktype | SOCK_CLOEXEC, list->ai_protocol);
    const bool connected = fd >= 0 && connect(fd, list->ai_addr, list->ai_addrlen) == 0;
    freeaddrinfo(list);
    if (!connected) {
        if (fd >= 0) {
            close(fd);
        }
        return false;
    }
    std::lock_guard lock(m_mutex);
    m_fd = fd;
    m_reader = std::thread(&TcpTestHost::readPackets, this, fd);
    return true;
}

void TcpTestHost::readPackets(int fd) {
    uint8_t packet[NetPacket::kCapacity];
    for (;;) {
        if (!readFully(fd, packet, 16)) {
            return;
        }
        const size_t length = packet[8] | (packet[9] << 8);
        if (length < 16 || length > sizeof packet || !readFully(fd, packet + 16, length - 16)) {
            m_call.tcpReadError();
            return;
        }
        m_call.tcpPacketReceived(packet, static_cast<int>(length));
    }
}

bool TcpTestHost::isTcpConnected() {
    std::lock_guard lock(m_mutex);
    return m_fd >= 0;
}

bool TcpTestHost::sendTcpPacket(const uint8_t* data, int length) {
    std::lock_guard lock(m_mutex);
    if (failSends || m_fd < 0 ||
        send(m_fd, data, static_cast<size_t>(length), MSG_NOSIGNAL) != length) {
        return false;
    }
    ++m_sent;
    return true;
}

void TcpTestHost::disconnectNetwork() {
    std::thread reader;
    {
        std::lock_guard lock(m_mutex);
        if (m_fd >= 0) {
            shutdown(m_fd, SHUT_RDWR);
        }
        reader = std::move(m_reader);
    }
    if (reader.joinable()) {
        reader.join();
    }
    std::lock_guard lock(m_mutex);
    if (m_fd >= 0) {
        close(m_fd);
        m_fd = -1;
    }
}

void TcpTestHost::threadEnding() {
    std::lock_guard lock(m_mutex);
    m_threadEnded = true;
    m_changed.notify_all();
}

bool TcpTestHost::threadEnded() {
    std::lock_guard lock(m_mutex);
    return m_threadEnded;
}

void TcpTestHost::event(const std::string& text) {
    std::lock_guard lock(m_mutex);
    m_events.push_back(text);
    m_changed.notify_all();
}

std::string TcpTestHost::nextEvent(int timeoutMs) {
    std::unique_lock lock(m_mutex);
    if (!m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                            [this] { return m_read < m_events.size(); })) {
        return "";
    }
    return m_events[m_read++];
}

std::vector<std::string> TcpTestHost::events() {
    std::lock_guard lock(m_mutex);
    return m_events;
}

}  // namespace tallix::testing
