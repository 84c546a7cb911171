// What the protocol core and the socket loop exchange: connection ids, UDP endpoints
// and packets to send.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qelserver {

// Names one accepted TCP connection; chosen by the socket loop, never reused.
using ConnId = uint64_t;

enum class Transport : uint8_t { Tcp, Udp };

// An IPv4 address and port, both in host byte order.
struct UdpEndpoint {
    uint32_t address = 0;
    uint16_t port = 0;

    bool operator==(const UdpEndpoint&) const = default;
};

std::string toText(const UdpEndpoint& endpoint);

struct Outgoing {
    Transport transport = Transport::Tcp;
    ConnId connection = 0;  // for Tcp
    UdpEndpoint endpoint;   // for Udp
    std::vector<uint8_t> bytes;
};

}  // namespace qelserver
