// Conversion of device-independent bitmap rows into the RGBA buffers the Java host
// reads: rows top first, 4 bytes a pixel (red, green, blue, alpha), no row padding.
//
// These are plain functions on memory so that they build and are tested on every
// platform; the capture code feeds them what GetDIBits returned.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vistrel {

// 16-bit 5-5-5 source: rows bottom-up (the first row in memory is the bottom row of the
// picture), each row dibRowBytes(16, width) bytes, pixels little-endian with red in bits
// 10-14, green in 5-9 and blue in 0-4. Each 5-bit value becomes value << 3, so 31 gives
// 248. Alpha is 255, or with a mask (same layout as the source) 0 where the low byte of
// the mask pixel is nonzero. Writes width * height * 4 bytes to out.
void convert555ToRgba(const std::uint8_t* source, const std::uint8_t* mask, std::uint32_t width,
                      std::uint32_t height, std::uint8_t* out) noexcept;

// 32-bit source: rows bottom-up, width * 4 bytes each, pixels blue, green, red, fourth
// byte. Alpha is 255 without a mask; with a mask (same layout) 0 where the mask pixel's
// first byte is nonzero, else the source's fourth byte. Writes width * height * 4 bytes.
void convert32ToRgba(const std::uint8_t* source, const std::uint8_t* mask, std::uint32_t width,
                     std::uint32_t height, std::uint8_t* out) noexcept;

}  // namespace vistrel
