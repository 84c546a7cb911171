// The session packet: a 16-byte little-endian header followed by text fields (control
// packets) or an enciphered voice frame (RTP). This file builds outgoing control
// packets and reads headers; fields.h parses received text.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>

#include "session/fields.h"
#include "session/format_check.h"

namespace session {

constexpr uint32_t kPacketMagic = 0x57721566;
constexpr size_t kHeaderSize = 16;
// An outgoing control packet, header and text, never exceeds this.
constexpr size_t kMaxControlPacket = 768;

// Packet types (header byte 10).
enum PacketType : uint8_t {
    E_QELPT_NONE = 0,
    E_QELPT_ANNOUNCE = 1,
    E_QELPT_PING = 2,
    E_QELPT_CONNECT_TO = 3,
    E_QELPT_DISCONNECT = 4,
    E_QELPT_UPDATE = 5,
    E_QELPT_COMMAND = 6,
    E_QELPT_RTP = 7,
    E_QELPT_NETSTATE = 8,
};
constexpr uint8_t kLastPacketType = E_QELPT_NETSTATE;

// Packet status codes (header byte 11); the client always sends E_QELPS_NONE.
enum PacketStatus : uint8_t {
    E_QELPS_NONE = 0,
    E_QELPS_OK = 1,
    E_QELPS_NOPRIV = 2,
    E_QELPS_NOTCONNECTED = 3,
    E_QELPS_NOTFOUND = 4,
    E_QELPS_MISSINGINFO = 5,
    E_QELPS_BADFIELDVAL = 6,
    E_QELPS_TRYING = 7,
    E_QELPS_CONNECTFAILED = 8,
};
constexpr uint8_t kLastPacketStatus = E_QELPS_CONNECTFAILED;

// The enumerator's name for error texts; "E_QELPS_INVALID" above the last code.
const char* statusName(uint32_t status) noexcept;

struct PacketHeader {
    uint32_t magic = 0;
    uint32_t token = 0;
    uint16_t len = 0;
    uint8_t type = 0;
    uint8_t status = 0;
    uint32_t reserved = 0;
};

// Reads and writes the 16 header bytes at `bytes` (little-endian on every host).
PacketHeader readHeader(const uint8_t* bytes) noexcept;
void writeHeader(uint8_t* bytes, const PacketHeader& header) noexcept;

// An outgoing control packet under construction, in a fixed area: building one never
// allocates. The field table records every line written, pointing into the packet.
class PacketBuilder {
public:
    const uint8_t* data() const noexcept { return m_bytes; }
    // The header's len: what goes on the wire.
    uint16_t size() const noexcept;
    uint8_t type() const noexcept { return m_bytes[10]; }
    const FieldTable& fields() const noexcept { return m_fields; }

private:
    friend void initPacket(PacketBuilder& builder, uint32_t token, uint8_t type) noexcept;
    friend bool vaddField(PacketBuilder& builder, int32_t key, const char* format,
                          va_list args) noexcept;

    uint8_t m_bytes[kMaxControlPacket] = {};
    FieldTable m_fields;
    size_t m_write = 0;
    size_t m_end = 0;
};

// Starts a packet: magic, token, len 16, type, status 0, no fields.
void initPacket(PacketBuilder& builder, uint32_t token, uint8_t type) noexcept;

// Appends the line "key:value\n" with a printf-formatted value. Writes nothing and
// returns false for an unknown key, a 17th field, a value not shorter than the key's
// cap, or a line that does not fit with its terminating zero byte.
bool addField(PacketBuilder& builder, int32_t key, const char* format, ...) noexcept
    QEL_PRINTF_FORMAT(3, 4);
bool vaddField(PacketBuilder& builder, int32_t key, const char* format, va_list args) noexcept;

}  // namespace session
