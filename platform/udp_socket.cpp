// The parts of the datagram socket that both platforms share: name resolution walks the
// same addrinfo list on both.
#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <netdb.h>
#include <sys/socket.h>
#endif

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

int DatagramAddresses::resolve(const char* host, const char* service, DatagramAddresses& out) {
    if (!UdpSocket::socketsReady()) {
        return -1;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
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

UdpSocket& UdpSocket::operator=(UdpSocket&& other) noexcept {
    if (this != &other) {
        close();
        m_handle = other.m_handle;
        other.m_handle = kInvalid;
    }
    return *this;
}

}  // namespace platform
