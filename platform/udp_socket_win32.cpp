#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstring>

#include "platform/socket_ops.h"
#include "platform/udp_socket.h"

namespace platform {

namespace {

// Winsock is started once, on first use, and stays started for the process.
bool winsockReady() noexcept {
    static const bool ready = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return ready;
}

SOCKET handleOf(intptr_t handle) noexcept {
    return static_cast<SOCKET>(handle);
}

}  // namespace

std::string DatagramAddresses::errorText(int code) {
    char text[256] = {};
    const DWORD length =
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                       static_cast<DWORD>(code), 0, text, sizeof text, nullptr);
    if (length == 0) {
        return "socket error " + std::to_string(code);
    }
    std::string result(text, length);
    while (!result.empty() && (result.back() == '\n' || result.back() == '\r')) {
        result.pop_back();
    }
    return result;
}

bool UdpSocket::socketsReady() noexcept {
    return winsockReady();
}

namespace socket_ops {

intptr_t open(const DatagramAddresses::Candidate& c) noexcept {
    if (!winsockReady()) {
        return -1;
    }
    // Not inherited by programs the process starts.
    const SOCKET s = WSASocketW(c.family, c.type, c.protocol, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
    return s == INVALID_SOCKET ? -1 : static_cast<intptr_t>(s);
}

bool connect(intptr_t handle, const DatagramAddresses::Candidate& c) noexcept {
    return ::connect(handleOf(handle), static_cast<const sockaddr*>(c.address),
                     static_cast<int>(c.addressLength)) == 0;
}

bool setNonBlocking(intptr_t handle) noexcept {
    u_long on = 1;
    return ioctlsocket(handleOf(handle), FIONBIO, &on) == 0;
}

void close(intptr_t handle) noexcept {
    closesocket(handleOf(handle));
}

}  // namespace socket_ops

bool UdpSocket::waitReadable(int ms) const noexcept {
    // select, not WSAPoll: it is there on every Windows version the engine runs on.
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(static_cast<SOCKET>(m_handle), &readable);
    timeval limit{ms / 1000, (ms % 1000) * 1000};
    return select(0, &readable, nullptr, nullptr, &limit) > 0;
}

UdpSocket::Status UdpSocket::receive(void* buffer, std::size_t capacity,
                                     std::size_t& received) noexcept {
    const int n =
        ::recv(handleOf(m_handle), static_cast<char*>(buffer), static_cast<int>(capacity), 0);
    if (n != SOCKET_ERROR) {
        received = static_cast<std::size_t>(n);
        return Status::ok;
    }
    // WSAECONNRESET (the peer's port was unreachable for an earlier datagram) is a
    // failure, as ECONNREFUSED is on POSIX systems.
    return WSAGetLastError() == WSAEWOULDBLOCK ? Status::wouldBlock : Status::failed;
}

bool UdpSocket::send(const void* data, std::size_t length) noexcept {
    const int n = ::send(handleOf(m_handle), static_cast<const char*>(data),
                         static_cast<int>(length), 0);
    return n != SOCKET_ERROR && static_cast<std::size_t>(n) == length;
}

uint16_t UdpSocket::localPort() const noexcept {
    sockaddr_storage address{};
    int length = sizeof address;
    if (getsockname(handleOf(m_handle), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return 0;
    }
    if (address.ss_family == AF_INET6) {
        return ntohs(reinterpret_cast<const sockaddr_in6*>(&address)->sin6_port);
    }
    return ntohs(reinterpret_cast<const sockaddr_in*>(&address)->sin_port);
}

std::string UdpSocket::lastErrorText() {
    return DatagramAddresses::errorText(WSAGetLastError());
}

}  // namespace platform
