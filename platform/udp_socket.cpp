// The parts of the sockets that both platforms share: name resolution walks the same
// addrinfo list on both, and the handles go through the same few steps.
#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <netdb.h>
#include <sys/socket.h>
#endif

#include "platform/socket_ops.h"
#include "platform/tcp_stream.h"
#include "platform/udp_socket.h"

namespace platform {

struct DatagramAddresses::List {
    addrinfo* head = nullptr;
    std::size_t count = 0;
    ~List() {
        if (head != nullptr) {
            freeaddrinfo(head);
        }
    }
};

DatagramAddresses::DatagramAddresses() = default;
DatagramAddresses::~DatagramAddresses() = default;
DatagramAddresses::DatagramAddresses(DatagramAddresses&&) noexcept = default;
DatagramAddresses& DatagramAddresses::operator=(DatagramAddresses&&) noexcept = default;

int DatagramAddresses::resolve(const char* host, const char* service, DatagramAddresses& out,
                               bool stream) {
    if (!UdpSocket::socketsReady()) {
        return -1;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = stream ? SOCK_STREAM : SOCK_DGRAM;
    auto list = std::make_unique<List>();
    const int rc = getaddrinfo(host, service, &hints, &list->head);
    if (rc != 0) {
        list->head = nullptr;
        return rc;
    }
    for (addrinfo* ai = list->head; ai != nullptr; ai = ai->ai_next) {
        ++list->count;
    }
    out.m_list = std::move(list);
    return 0;
}

std::size_t DatagramAddresses::size() const noexcept {
    return m_list ? m_list->count : 0;
}

DatagramAddresses::Candidate DatagramAddresses::operator[](std::size_t i) const noexcept {
    addrinfo* ai = m_list->head;
    while (i-- > 0) {
        ai = ai->ai_next;
    }
    return {ai->ai_family, ai->ai_socktype, ai->ai_protocol, ai->ai_addr,
            static_cast<uint32_t>(ai->ai_addrlen)};
}

TcpStream& TcpStream::operator=(TcpStream&& other) noexcept {
    if (this != &other) {
        close();
        m_handle = other.m_handle;
        other.m_handle = kInvalid;
    }
    return *this;
}

TcpStream TcpStream::connect(const std::string& host, uint16_t port, std::string& error) {
    DatagramAddresses candidates;
    const std::string service = std::to_string(port);
    if (const int rc = DatagramAddresses::resolve(host.c_str(), service.c_str(), candidates, true); rc != 0) {
        error = "cannot resolve " + host + ": " + DatagramAddresses::errorText(rc);
        return {};
    }
    error = "cannot connect to " + host + ":" + service;
    for (size_t i = 0; i < candidates.size(); ++i) {
        const intptr_t handle = socket_ops::open(candidates[i]);
        if (handle == kInvalid) {
            continue;
        }
        TcpStream stream(handle);
        if (socket_ops::connect(handle, candidates[i]) && socket_ops::setNonBlocking(handle)) {
            stream.setNoDelay();
            error.clear();
            return stream;
        }
        error = "cannot connect to " + host + ":" + service + ": " + UdpSocket::lastErrorText();
    }
    return {};
}

bool UdpSocket::create(const DatagramAddresses::Candidate& candidate) noexcept {
    const intptr_t handle = socket_ops::open(candidate);
    if (handle == kInvalid) {
        return false;
    }
    close();
    m_handle = handle;
    return true;
}

bool UdpSocket::connect(const DatagramAddresses::Candidate& candidate) noexcept {
    return socket_ops::connect(m_handle, candidate);
}

bool UdpSocket::setNonBlocking() noexcept {
    return socket_ops::setNonBlocking(m_handle);
}

void UdpSocket::close() noexcept {
    if (m_handle != kInvalid) {
        socket_ops::close(m_handle);
        m_handle = kInvalid;
    }
}

void TcpStream::close() noexcept {
    if (m_handle != kInvalid) {
        socket_ops::close(m_handle);
        m_handle = kInvalid;
    }
}

UdpSocket& UdpSocket::operator=(UdpSocket&& other) noexcept {
    if (this != &other) {
        close();
        m_handle = other.m_handle;
        other.m_handle = kInvalid;
    }
    return *this;
}

}  // namespace platform
