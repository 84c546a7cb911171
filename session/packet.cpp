#include "session/packet.h"

#include <cstdio>
#include <cstring>

namespace session {

namespace {

const char* const kStatusNames[] = {
    "E_QELPS_NONE",     "E_QELPS_OK",          "E_QELPS_NOPRIV",
    "E_QELPS_NOTCONNECTED", "E_QELPS_NOTFOUND", "E_QELPS_MISSINGINFO",
    "E_QELPS_BADFIELDVAL",  "E_QELPS_TRYING",   "E_QELPS_CONNECTFAILED",
};
static_assert(sizeof(kStatusNames) / sizeof(kStatusNames[0]) == kLastPacketStatus + 1);

uint32_t load32(const uint8_t* p) noexcept {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

uint16_t load16(const uint8_t* p) noexcept {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

void store32(uint8_t* p, uint32_t v) noexcept {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

void store16(uint8_t* p, uint16_t v) noexcept {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

}  // namespace

const char* statusName(uint32_t status) noexcept {
    return status <= kLastPacketStatus ? kStatusNames[status] : "E_QELPS_INVALID";
}

PacketHeader readHeader(const uint8_t* bytes) noexcept {
    PacketHeader h;
    h.magic = load32(bytes);
    h.token = load32(bytes + 4);
    h.len = load16(bytes + 8);
    h.type = bytes[10];
    h.status = bytes[11];
    h.reserved = load32(bytes + 12);
    return h;
}

void writeHeader(uint8_t* bytes, const PacketHeader& header) noexcept {
    store32(bytes, header.magic);
    store32(bytes + 4, header.token);
    store16(bytes + 8, header.len);
    bytes[10] = header.type;
    bytes[11] = header.status;
    store32(bytes + 12, header.reserved);
}

uint16_t PacketBuilder::size() const noexcept { return load16(m_bytes + 8); }

void initPacket(PacketBuilder& builder, uint32_t token, uint8_t type) noexcept {
    PacketHeader h;
    h.magic = kPacketMagic;
    h.token = token;
    h.len = static_cast<uint16_t>(kHeaderSize);
    h.type = type;
    writeHeader(builder.m_bytes, h);
    builder.m_bytes[kHeaderSize] = 0;
    builder.m_fields.count = 0;
    builder.m_write = kHeaderSize;
    builder.m_end = kMaxControlPacket;
}

bool vaddField(PacketBuilder& builder, int32_t key, const char* format, va_list args) noexcept {
    if (key < 0 || key >= kFieldKeyCount || builder.m_fields.count >= kMaxFields ||
        builder.m_write >= builder.m_end) {
        return false;
    }
    const FieldKeyInfo& info = kFieldKeys[key];
    // Every cap is below 64, so a value that fits its cap fits here; a longer one is
    // detected from the formatted length and refused.
    char value[64];
    const int formatted = std::vsnprintf(value, sizeof value, format, args);
    if (formatted < 0 || static_cast<uint32_t>(formatted) >= info.cap) {
        return false;
    }
    const size_t keyLength = std::strlen(info.text);
    const size_t valueLength = static_cast<size_t>(formatted);
    const size_t line = keyLength + 1 + valueLength + 1;
    if (line + 1 > builder.m_end - builder.m_write) {
        return false;
    }
    uint8_t* out = builder.m_bytes + builder.m_write;
    std::memcpy(out, info.text, keyLength);
    out[keyLength] = ':';
    std::memcpy(out + keyLength + 1, value, valueLength);
    out[line - 1] = '\n';
    out[line] = 0;  // keeps the text terminated in memory; not counted, not sent

    FieldEntry& entry = builder.m_fields.entries[builder.m_fields.count++];
    entry.key = key;
    entry.value = reinterpret_cast<const char*>(out + keyLength + 1);
    entry.length = static_cast<uint32_t>(valueLength);
    builder.m_write += line;
    store16(builder.m_bytes + 8, static_cast<uint16_t>(builder.m_write));
    return true;
}

bool addField(PacketBuilder& builder, int32_t key, const char* format, ...) noexcept {
    va_list args;
    va_start(args, format);
    const bool written = vaddField(builder, key, format, args);
    va_end(args);
    return written;
}

}  // namespace session
