#include "session/udp_address.h"

#include <cstring>

namespace session {

namespace {

constexpr size_t kMaxHostChars = 15;

int digitValue(char c, unsigned base) noexcept {
    int value = -1;
    if (c >= '0' && c <= '9') {
        value = c - '0';
    } else if (c >= 'a' && c <= 'f') {
        value = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
        value = c - 'A' + 10;
    }
    return value >= 0 && static_cast<unsigned>(value) < base ? value : -1;
}

// One part of an address at `at`, in the base its prefix chooses; advances `at` past it.
bool parsePart(const char*& at, const char* end, uint32_t& value) noexcept {
    unsigned base = 10;
    if (at < end && *at == '0') {
        base = 8;
        if (at + 1 < end && (at[1] == 'x' || at[1] == 'X')) {
            base = 16;
            at += 2;
        }
    }
    const char* first = at;
    uint64_t total = 0;
    for (int digit; at < end && (digit = digitValue(*at, base)) >= 0; ++at) {
        total = total * base + static_cast<unsigned>(digit);
        if (total > UINT32_MAX) {
            return false;
        }
    }
    // A lone "0" is an octal zero; "0x" needs a digit after it, and octal parts may
    // not hold 8 or 9 (the loop stops there, so the check below refuses them).
    if (at == first && base != 8) {
        return false;
    }
    value = static_cast<uint32_t>(total);
    return true;
}

}  // namespace

bool parseIpv4(const char* text, size_t length, uint32_t& address) noexcept {
    const char* at = text;
    const char* end = text + length;
    uint32_t parts[4] = {};
    int count = 0;
    for (;;) {
        if (at == end || digitValue(*at, 10) < 0 || !parsePart(at, end, parts[count])) {
            return false;
        }
        ++count;
        if (at == end) {
            break;
        }
        // Only a dot may follow a part, and only three dots, each after a byte.
        if (*at != '.' || count == 4 || parts[count - 1] > 0xFF) {
            return false;
        }
        ++at;
    }
    // The last part fills what the others leave: a, a.b (24 bits), a.b.c (16), a.b.c.d.
    static const uint32_t kLastMax[] = {UINT32_MAX, 0xFFFFFF, 0xFFFF, 0xFF};
    const uint32_t last = parts[count - 1];
    if (last > kLastMax[count - 1]) {
        return false;
    }
    uint32_t host = last;
    for (int i = 0; i < count - 1; ++i) {
        host |= parts[i] << (24 - 8 * i);
    }
    const uint8_t bytes[4] = {static_cast<uint8_t>(host >> 24), static_cast<uint8_t>(host >> 16),
                              static_cast<uint8_t>(host >> 8), static_cast<uint8_t>(host)};
    std::memcpy(&address, bytes, sizeof address);
    return true;
}

bool parseUdpAddr(const char* text, size_t length, uint32_t& address, int32_t& port) noexcept {
    address = 0;
    port = 0;
    const char* colon = static_cast<const char*>(std::memchr(text, ':', length));
    if (colon == nullptr) {
        return false;
    }
    // A longer host is refused rather than cut: cutting could name another address.
    const size_t hostChars = static_cast<size_t>(colon - text);
    uint32_t host = 0;
    if (hostChars > kMaxHostChars || !parseIpv4(text, hostChars, host) || host == 0xFFFFFFFF) {
        return false;
    }
    const char* end = text + length;
    uint32_t number = 0;
    const char* digits = colon + 1;
    for (const char* at = digits; at < end; ++at) {
        if (*at < '0' || *at > '9' || (number = number * 10 + static_cast<uint32_t>(*at - '0')) > 65535) {
            return false;
        }
    }
    if (digits == end || number == 0) {
        return false;
    }
    address = host;
    port = static_cast<int32_t>(number);
    return true;
}

}  // namespace session
