#include "windows/pixel_convert.h"

#include <bit>
#include <cstring>

#include "windows/dib_layout.h"

namespace vistrel {
namespace {

// Pixels are handled as 32-bit words whose bytes in memory are red, green, blue, alpha
// (for the output) or blue, green, red, fourth byte (for 32-bit input); that holds on
// the little-endian machines this library runs on.
static_assert(std::endian::native == std::endian::little);

inline std::uint32_t load32(const std::uint8_t* p) noexcept {
    std::uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

inline void store32(std::uint8_t* p, std::uint32_t v) noexcept { std::memcpy(p, &v, sizeof v); }

// b, g, r, x -> r, g, b, 0.
inline std::uint32_t swapRedBlue(std::uint32_t v) noexcept {
    return ((v >> 16) & 0xFFu) | (v & 0xFF00u) | ((v & 0xFFu) << 16);
}

// One row each, on restrict-qualified rows with size_t indices so that the compiler
// vectorizes them (a 32-bit index could wrap, which stops it); these loops are the
// whole cost of a conversion.

// 0RRRRRGG GGGBBBBB, little-endian -> r, g, b, 0 with each 5-bit value << 3 (31 -> 248).
inline std::uint32_t expand555(std::uint32_t v) noexcept {
    return ((v >> 7) & 0xF8u) | ((v << 6) & 0xF800u) | ((v << 19) & 0xF80000u);
}

inline std::uint32_t load16(const std::uint8_t* p) noexcept {
    std::uint16_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

void row555(const std::uint8_t* __restrict src, std::size_t width,
            std::uint8_t* __restrict dst) noexcept {
    for (std::size_t x = 0; x < width; ++x) {
        store32(dst + x * 4, expand555(load16(src + x * 2)) | 0xFF000000u);
    }
}

void row555Masked(const std::uint8_t* __restrict src, const std::uint8_t* __restrict mask,
                  std::size_t width, std::uint8_t* __restrict dst) noexcept {
    for (std::size_t x = 0; x < width; ++x) {
        const std::uint32_t alpha = mask[x * 2] != 0 ? 0 : 0xFF000000u;
        store32(dst + x * 4, expand555(load16(src + x * 2)) | alpha);
    }
}

void row32(const std::uint8_t* __restrict src, std::size_t width,
           std::uint8_t* __restrict dst) noexcept {
    for (std::size_t x = 0; x < width; ++x) {
        store32(dst + x * 4, swapRedBlue(load32(src + x * 4)) | 0xFF000000u);
    }
}

void row32Masked(const std::uint8_t* __restrict src, const std::uint8_t* __restrict mask,
                 std::size_t width, std::uint8_t* __restrict dst) noexcept {
    for (std::size_t x = 0; x < width; ++x) {
        const std::uint32_t v = load32(src + x * 4);
        const std::uint32_t alpha = (load32(mask + x * 4) & 0xFFu) != 0 ? 0 : (v & 0xFF000000u);
        store32(dst + x * 4, swapRedBlue(v) | alpha);
    }
}

}  // namespace

void convert555ToRgba(const std::uint8_t* source, const std::uint8_t* mask, std::uint32_t width,
                      std::uint32_t height, std::uint8_t* out) noexcept {
    const std::size_t stride = static_cast<std::size_t>(dibRowBytes(16, width));
    const std::size_t outRow = std::size_t{width} * 4;
    for (std::uint32_t r = 0; r < height; ++r) {
        // Source row r (the bottom row first) is picture row height - 1 - r.
        const std::size_t from = r * stride;
        std::uint8_t* to = out + (height - 1 - r) * outRow;
        if (mask == nullptr) {
            row555(source + from, width, to);
        } else {
            row555Masked(source + from, mask + from, width, to);
        }
    }
}

void convert32ToRgba(const std::uint8_t* source, const std::uint8_t* mask, std::uint32_t width,
                     std::uint32_t height, std::uint8_t* out) noexcept {
    const std::size_t row = std::size_t{width} * 4;
    for (std::uint32_t r = 0; r < height; ++r) {
        const std::size_t from = r * row;
        std::uint8_t* to = out + (height - 1 - r) * row;
        if (mask == nullptr) {
            row32(source + from, width, to);
        } else {
            row32Masked(source + from, mask + from, width, to);
        }
    }
}

}  // namespace vistrel
