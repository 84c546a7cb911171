#include <winsock2.h>
#include <ws2tcpip.h>

#include "platform/tcp_stream.h"

namespace platform {

namespace {

SOCKET handleOf(intptr_t handle) noexcept {
    return static_cast<SOCKET>(handle);
}

}  // namespace

void TcpStream::setNoDelay() noexcept {
    const BOOL one = TRUE;
    ::setsockopt(handleOf(m_handle), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one),
                 sizeof one);
}

TcpStream::Status TcpStream::receive(void* buffer, size_t capacity, size_t& received) noexcept {
    const int n = ::recv(handleOf(m_handle), static_cast<char*>(buffer), static_cast<int>(capacity), 0);
    if (n > 0) {
        received = static_cast<size_t>(n);
        return Status::ok;
    }
    if (n == 0) {
        return Status::closed;
    }
    return WSAGetLastError() == WSAEWOULDBLOCK ? Status::wouldBlock : Status::failed;
}

bool TcpStream::sendAll(const void* data, size_t length) noexcept {
    const SOCKET s = handleOf(m_handle);
    const auto* bytes = static_cast<const char*>(data);
    while (length > 0) {
        const int n = ::send(s, bytes, static_cast<int>(length), 0);
        if (n != SOCKET_ERROR) {
            bytes += n;
            length -= static_cast<size_t>(n);
        } else if (WSAGetLastError() == WSAEWOULDBLOCK) {
            fd_set writable;
            FD_ZERO(&writable);
            FD_SET(s, &writable);
            timeval wait{0, 100'000};
            ::select(0, nullptr, &writable, nullptr, &wait);
        } else {
            return false;
        }
    }
    return true;
}

}  // namespace platform
