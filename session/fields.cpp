#include "session/fields.h"

#include <cstring>

namespace session {

const FieldKeyInfo kFieldKeys[kFieldKeyCount] = {
    {"name", 63},   {"status", 63},  {"service", 63}, {"udpaddr", 47},
    {"error", 63},  {"codec", 15},   {"version", 15}, {"dtmf", 3},
    {"enckey", 33}, {"under5", 6},   {"remaddr", 22}, {"pin", 31},
};

namespace {

bool endsKey(char c) noexcept { return c == ':' || c == '\n' || c == '\0'; }
bool endsLine(char c) noexcept { return c == '\n' || c == '\0'; }

// The first key, in table order, that begins with the received key characters. The
// peer may abbreviate keys this way; an empty key therefore names the first entry.
int32_t matchKey(const char* key, size_t length) noexcept {
    for (int32_t i = 0; i < kFieldKeyCount; ++i) {
        const char* text = kFieldKeys[i].text;
        if (std::strlen(text) >= length && std::memcmp(text, key, length) == 0) {
            return i;
        }
    }
    return kUnknownField;
}

}  // namespace

int parseFields(FieldTable& table, const char* text, size_t length) noexcept {
    const char* p = text;
    const char* const end = text + length;
    table.count = 0;
    while (p < end && *p != '\0' && table.count < kMaxFields) {
        const char* stop = p;
        while (stop < end && !endsKey(*stop)) {
            ++stop;
        }
        FieldEntry entry;
        if (stop < end && *stop == ':') {
            entry.key = matchKey(p, static_cast<size_t>(stop - p));
            if (entry.key != kUnknownField) {
                const char* value = stop + 1;
                const char* valueEnd = value;
                const uint32_t cap = kFieldKeys[entry.key].cap;
                while (valueEnd < end && !endsLine(*valueEnd) &&
                       static_cast<uint32_t>(valueEnd - value) < cap) {
                    ++valueEnd;
                }
                entry.value = value;
                entry.length = static_cast<uint32_t>(valueEnd - value);
            }
        }
        table.entries[table.count++] = entry;
        // Whatever the entry took, the rest of the line (a value beyond its cap
        // included) is skipped. A zero byte stays where it is and ends the loop.
        while (stop < end && !endsLine(*stop)) {
            ++stop;
        }
        if (stop < end && *stop == '\n') {
            ++stop;
        }
        p = stop;
    }
    return table.count;
}

const FieldEntry* findField(const FieldTable& table, int32_t key) noexcept {
    for (int i = 0; i < table.count; ++i) {
        if (table.entries[i].key == key) {
            return &table.entries[i];
        }
    }
    return nullptr;
}

}  // namespace session
