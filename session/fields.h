// Text fields of control packets: the key table with its caps, the field record and
// the parser for received payloads.
#pragma once

#include <cstddef>
#include <cstdint>

namespace session {

// Key index of a field line; the numbers are part of the wire protocol's key table.
enum FieldKey : int32_t {
    E_FLD_NAME = 0,
    E_FLD_STATUS = 1,
    E_FLD_SERVICE = 2,
    E_FLD_UDPADDR = 3,
    E_FLD_ERROR = 4,
    E_FLD_CODEC = 5,
    E_FLD_VERSION = 6,
    E_FLD_DTMF = 7,
    E_FLD_ENCKEY = 8,
    E_FLD_UNDER_5SEC = 9,
    E_FLD_REMADDR = 10,
    E_FLD_PIN = 11,
};

constexpr int kFieldKeyCount = 12;
constexpr int kMaxFields = 16;
constexpr int32_t kUnknownField = -1;

struct FieldKeyInfo {
    const char* text;
    // A sent value is shorter than the cap; a received value is cut to the cap.
    uint32_t cap;
};

// The key table, in index order. Parsing matches keys in this order, so the order is
// part of the protocol (a received "s" means "status", not "service").
extern const FieldKeyInfo kFieldKeys[kFieldKeyCount];

// One parsed or written field. `value` points into the packet bytes (not copied, not
// zero-terminated) and is valid as long as those bytes are.
struct FieldEntry {
    int32_t key = kUnknownField;
    const char* value = nullptr;
    uint32_t length = 0;
};

struct FieldTable {
    int count = 0;
    FieldEntry entries[kMaxFields];
};

// Fills `table` from a received payload of `length` bytes and returns the number of
// entries (at most kMaxFields). Never reads past text + length; a zero byte ends the
// payload. Lines without a colon or with an unknown key give kUnknownField entries.
int parseFields(FieldTable& table, const char* text, size_t length) noexcept;

// The first entry with `key`, or null.
const FieldEntry* findField(const FieldTable& table, int32_t key) noexcept;

}  // namespace session
