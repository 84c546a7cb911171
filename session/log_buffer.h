// One of the two growable byte blocks of a LogManager. Not synchronised: the manager's
// write lock guards every call.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <memory>

#include "session/qel_api.h"

namespace session {

// Entry layout, back to back without padding, integers in machine byte order:
//   0  uint32  entry length: 17 + message length + 1
//   4  int32   level
//   8  char[8] elapsed time "SSSS.mmm"
//  16  ' '
//  17  message, NUL
// so that the bytes from offset 8 on are one printable, NUL-terminated line.
class LogBuffer {
public:
    static constexpr uint32_t kStep = 65536;
    static constexpr uint32_t kHeaderBytes = 17;
    static constexpr uint32_t kTextOffset = 8;

    LogBuffer() = default;
    LogBuffer(const LogBuffer&) = delete;
    LogBuffer& operator=(const LogBuffer&) = delete;

    // Allocates the first block. False when memory runs out.
    [[nodiscard]] bool init() noexcept;

    // Drops every entry and the walk position; the block keeps its size.
    void empty() noexcept;

    // Appends one entry, growing the block in kStep steps while the capacity stays at
    // most maxCapacity. When it cannot grow, the message is dropped and the buffer is
    // left exactly as it was. Returns whether the entry was stored.
    bool append(int32_t level, uint32_t elapsedMs, const char* format, va_list args,
                uint32_t maxCapacity) noexcept;

    // The next entry to walk, or null when every entry has been walked. The entry and
    // its text stay valid until the buffer is next changed.
    const LogWalkEntry* next() noexcept;

    uint32_t capacity() const noexcept { return m_capacity; }
    uint32_t used() const noexcept { return m_used; }

private:
    bool grow(uint32_t minFree, uint32_t maxCapacity) noexcept;

    std::unique_ptr<char[]> m_data;
    uint32_t m_capacity = 0;
    uint32_t m_used = 0;
    uint32_t m_readPos = 0;
    LogWalkEntry m_entry{};
};

// Writes the 8-character elapsed time "SSSS.mmm" (no NUL). The text has room for four
// digits of seconds; from 10,000 s on the seconds wrap modulo 10,000 (2:46:40 later the
// stamp reads 0000.000 again). Wrapping keeps the header's width, and so every entry
// readable, and keeps differences between nearby lines meaningful, which a stamp
// stuck at 9999.999 would not.
void formatElapsed(char* out, uint32_t elapsedMs) noexcept;

}  // namespace session
