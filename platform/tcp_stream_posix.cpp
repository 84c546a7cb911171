#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/select.h>
#include <sys/socket.h>

#include <cerrno>

#include "platform/tcp_stream.h"

namespace platform {

void TcpStream::setNoDelay() noexcept {
    const int one = 1;
    ::setsockopt(static_cast<int>(m_handle), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

TcpStream::Status TcpStream::receive(void* buffer, size_t capacity, size_t& received) noexcept {
    for (;;) {
        const ssize_t n = ::recv(static_cast<int>(m_handle), buffer, capacity, 0);
        if (n > 0) {
            received = static_cast<size_t>(n);
            return Status::ok;
        }
        if (n == 0) {
            return Status::closed;
        }
        if (errno != EINTR) {
            return (errno == EAGAIN || errno == EWOULDBLOCK) ? Status::wouldBlock : Status::failed;
        }
    }
}

bool TcpStream::sendAll(const void* data, size_t length) noexcept {
    const int fd = static_cast<int>(m_handle);
    const auto* bytes = static_cast<const char*>(data);
    while (length > 0) {
        const ssize_t n = ::send(fd, bytes, length, MSG_NOSIGNAL);
        if (n > 0) {
            bytes += n;
            length -= static_cast<size_t>(n);
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            fd_set writable;
            FD_ZERO(&writable);
            FD_SET(fd, &writable);
            timeval wait{0, 100'000};
            ::select(fd + 1, nullptr, &writable, nullptr, &wait);
        } else if (n < 0 && errno != EINTR) {
            return false;
        }
    }
    return true;
}

}  // namespace platform
