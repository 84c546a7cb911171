#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/socket_ops.h"
#include "platform/udp_socket.h"

namespace platform {

std::string DatagramAddresses::errorText(int code) {
    return gai_strerror(code);
}

bool UdpSocket::socketsReady() noexcept {
    return true;
}

namespace socket_ops {

intptr_t open(const DatagramAddresses::Candidate& c) noexcept {
    const int fd = ::socket(c.family, c.type | SOCK_CLOEXEC, c.protocol);
    return fd < 0 ? -1 : fd;
}

bool connect(intptr_t handle, const DatagramAddresses::Candidate& c) noexcept {
    // A datagram connect only records the peer; EINPROGRESS cannot really happen but is
    // not a failure where it does.
    const int rc = ::connect(static_cast<int>(handle), static_cast<const sockaddr*>(c.address),
                             static_cast<socklen_t>(c.addressLength));
    return rc == 0 || errno == EINPROGRESS;
}

bool setNonBlocking(intptr_t handle) noexcept {
    const int fd = static_cast<int>(handle);
    const int flags = fcntl(fd, F_GETFL);
    return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

void close(intptr_t handle) noexcept {
    ::close(static_cast<int>(handle));
}

}  // namespace socket_ops

bool UdpSocket::waitReadable(int ms) const noexcept {
    pollfd entry{static_cast<int>(m_handle), POLLIN, 0};
    return ::poll(&entry, 1, ms) > 0;
}

UdpSocket::Status UdpSocket::receive(void* buffer, std::size_t capacity,
                                     std::size_t& received) noexcept {
    for (;;) {
        const ssize_t n = ::recv(static_cast<int>(m_handle), buffer, capacity, 0);
        if (n >= 0) {
            received = static_cast<std::size_t>(n);
            return Status::ok;
        }
        if (errno == EINTR) {
            continue;
        }
        return (errno == EAGAIN || errno == EWOULDBLOCK) ? Status::wouldBlock : Status::failed;
    }
}

bool UdpSocket::send(const void* data, std::size_t length) noexcept {
    const auto* bytes = static_cast<const char*>(data);
    while (length > 0) {
        const ssize_t n = ::send(static_cast<int>(m_handle), bytes, length, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        bytes += n;
        length -= static_cast<std::size_t>(n);
    }
    return true;
}

uint16_t UdpSocket::localPort() const noexcept {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (getsockname(static_cast<int>(m_handle), reinterpret_cast<sockaddr*>(&address), &length) !=
        0) {
        return 0;
    }
    if (address.ss_family == AF_INET6) {
        return ntohs(reinterpret_cast<const sockaddr_in6*>(&address)->sin6_port);
    }
    return ntohs(reinterpret_cast<const sockaddr_in*>(&address)->sin_port);
}

std::string UdpSocket::lastErrorText() {
    char buffer[128];
    const int error = errno;
    // GNU strerror_r returns the text (which may or may not be `buffer`).
    return strerror_r(error, buffer, sizeof buffer);
}

}  // namespace platform
