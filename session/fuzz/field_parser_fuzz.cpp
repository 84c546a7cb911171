// Fuzz target for the field parser: any bytes, as a received payload. Checks that the
// parser stays inside the payload and keeps its table's promises, and that every field
// it reads can be written back by the builder and read again unchanged.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "session/fields.h"
#include "session/packet.h"

using namespace session;

namespace {

void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A copy of exactly the input's size, so that any read beyond it is caught.
    std::unique_ptr<char[]> payload(new char[size + (size == 0)]);
    if (size != 0) {
        std::memcpy(payload.get(), data, size);
    }
    const char* begin = payload.get();
    FieldTable table;
    const int count = parseFields(table, begin, size);
    check(count == table.count && count >= 0 && count <= kMaxFields);

    PacketBuilder rebuilt;
    initPacket(rebuilt, 1, E_QELPT_UPDATE);
    for (int i = 0; i < count; ++i) {
        const FieldEntry& e = table.entries[i];
        if (e.key == kUnknownField) {
            check(e.value == nullptr && e.length == 0);
            continue;
        }
        check(e.key >= 0 && e.key < kFieldKeyCount);
        check(e.value > begin && e.value + e.length <= begin + size);
        check(e.length <= kFieldKeys[e.key].cap);
        check(std::memchr(e.value, '\n', e.length) == nullptr);
        check(std::memchr(e.value, '\0', e.length) == nullptr);
        if (e.length < kFieldKeys[e.key].cap) {
            addField(rebuilt, e.key, "%.*s", static_cast<int>(e.length), e.value);
        }
    }
    // What the builder wrote parses back to the same keys and values.
    FieldTable back;
    parseFields(back, reinterpret_cast<const char*>(rebuilt.data()) + kHeaderSize,
                rebuilt.size() - kHeaderSize);
    const FieldTable& written = rebuilt.fields();
    check(back.count == written.count);
    for (int i = 0; i < written.count; ++i) {
        check(back.entries[i].key == written.entries[i].key);
        check(back.entries[i].length == written.entries[i].length);
        check(std::memcmp(back.entries[i].value, written.entries[i].value,
                          written.entries[i].length) == 0);
    }
    return 0;
}
