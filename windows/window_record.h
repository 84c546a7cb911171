// The record in which the window list is handed to the host: 284 bytes, little-endian,
// fields at fixed offsets that the host reads directly. The same layout in 32- and
// 64-bit builds; window handles are kept in 32 bits (USER handles are 32-bit
// significant on 64-bit Windows too).
#pragma once

#include <cstddef>
#include <cstdint>

namespace vistrel {

inline constexpr std::size_t kTitleBytes = 256;

struct WindowDataRecord {
    char title[kTitleBytes];   // ANSI, NUL-terminated, at most 255 characters
    std::int32_t titleLength;  // characters before the NUL
    // Window rectangle in screen pixels, in this order (not left, top, right, bottom).
    std::int32_t top;
    std::int32_t bottom;
    std::int32_t left;
    std::int32_t right;
    std::int32_t iconized;  // 1 when minimized
    std::uint32_t window;   // the window handle
};

static_assert(sizeof(WindowDataRecord) == 284);
static_assert(offsetof(WindowDataRecord, titleLength) == 256);
static_assert(offsetof(WindowDataRecord, top) == 260);
static_assert(offsetof(WindowDataRecord, bottom) == 264);
static_assert(offsetof(WindowDataRecord, left) == 268);
static_assert(offsetof(WindowDataRecord, right) == 272);
static_assert(offsetof(WindowDataRecord, iconized) == 276);
static_assert(offsetof(WindowDataRecord, window) == 280);

}  // namespace vistrel
