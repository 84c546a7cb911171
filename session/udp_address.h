// The server's UDP endpoint as the ANNOUNCE answer gives it: "a.b.c.d:port".
#pragma once

#include <cstddef>
#include <cstdint>

namespace session {

// Parses the text form of an IPv4 address under the rules of the classic inet_addr:
// one to four parts separated by dots, each decimal, octal (leading 0) or hexadecimal
// (leading 0x); the last part fills the bytes that the earlier parts leave. Returns
// false for anything else. `address` is in network byte order (its bytes in memory
// are a, b, c, d). Needs no socket library.
bool parseIpv4(const char* text, size_t length, uint32_t& address) noexcept;

// A usable udpaddr value: a host part of at most 15 characters before the first colon
// that parses as an address other than 255.255.255.255, and a decimal port of 1 to
// 65535 after it. On failure both outputs are 0.
bool parseUdpAddr(const char* text, size_t length, uint32_t& address, int32_t& port) noexcept;

}  // namespace session
