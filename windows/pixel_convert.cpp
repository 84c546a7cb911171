#include "windows/pixel_convert.h"

#include <bit>
#include <cstring>

#include "windows/dib_layout.h"

namespace vistrel {
namespace {

// Pixels are assembled as 32-bit words whose bytes in memory are red, green, blue,
// alpha; that holds on the little-endian machines this library runs on.
static_assert(std::endian::native == std::endian::little);

constexpr std::uint32_t kOpaque = 0xFF000000u;

inline std::uint32_t load32(const std::uint8_t* p) noexcept {
    std::uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

inline std::uint16_t load16(const std::uint8_t* p) noexcept {
    std::uint16_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

inline void store32(std::uint8_t* p, std::uint32_t v) noexcept { std::memcpy(p, &v, sizeof v); }

// 0RRRRRGG GGGBBBBB -> bytes r<<3, g<<3, b<<3 and no alpha yet.
inline std::uint32_t expand555(std::uint32_t v) noexcept {
    const std::uint32_t r = (v >> 10) & 0x1F;
    const std::uint32_t g = (v >> 5) & 0x1F;
    const std::uint32_t b = v & 0x1F;
    return (r << 3) | (g << 11) | (b << 19);
}

// Source bytes b, g, r, x -> r, g, b with no alpha yet.
inline std::uint32_t swapRedBlue(std::uint32_t v) noexcept {
    return ((v >> 16) & 0xFFu) | (v & 0xFF00u) | ((v & 0xFFu) << 16);
}

}  // namespace

void convert555ToRgba(const std::uint8_t* source, const std::uint8_t* mask, std::uint32_t width,
                      std::uint32_t height, std::uint8_t* out) noexcept {
    const std::size_t stride = static_cast<std::size_t>(dibRowBytes(16, width));
    const std::size_t outRow = std::size_t{width} * 4;
    for (std::uint32_t r = 0; r < height; ++r) {
        const std::uint8_t* src = source + r * stride;
        std::uint8_t* dst = out + (height - 1 - r) * outRow;
        if (mask == nullptr) {
            for (std::uint32_t x = 0; x < width; ++x) {
                store32(dst + x * 4, expand555(load16(src + x * 2)) | kOpaque);
            }
        } else {
            const std::uint8_t* m = mask + r * stride;
            for (std::uint32_t x = 0; x < width; ++x) {
                const std::uint32_t alpha = m[x * 2] != 0 ? 0 : kOpaque;
                store32(dst + x * 4, expand555(load16(src + x * 2)) | alpha);
            }
        }
    }
}

void convert32ToRgba(const std::uint8_t* source, const std::uint8_t* mask, std::uint32_t width,
                     std::uint32_t height, std::uint8_t* out) noexcept {
    const std::size_t row = std::size_t{width} * 4;
    for (std::uint32_t r = 0; r < height; ++r) {
        const std::uint8_t* src = source + r * row;
        std::uint8_t* dst = out + (height - 1 - r) * row;
        if (mask == nullptr) {
            for (std::uint32_t x = 0; x < width; ++x) {
                store32(dst + x * 4, swapRedBlue(load32(src + x * 4)) | kOpaque);
            }
        } else {
            const std::uint8_t* m = mask + r * row;
            for (std::uint32_t x = 0; x < width; ++x) {
                const std::uint32_t v = load32(src + x * 4);
                const std::uint32_t alpha = m[x * 4] != 0 ? 0 : (v & kOpaque);
                store32(dst + x * 4, swapRedBlue(v) | alpha);
            }
        }
    }
}

}  // namespace vistrel
