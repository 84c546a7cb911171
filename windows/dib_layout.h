// Sizes of device-independent bitmaps as GetDIBits lays them out: rows padded to a
// multiple of 4 bytes. Sizes are checked so that a huge window cannot wrap them.
#pragma once

#include <cstdint>
#include <optional>

namespace vistrel {

// The largest buffer handed to the host: its size output is a 32-bit signed value.
inline constexpr std::uint64_t kMaxImageBytes = 0x7FFFFFFF;

// A bitmap's planes * bits per pixel rounded up to a DIB depth: 1, 4, 8, 16, 24 or 32.
std::uint32_t roundDibDepth(std::uint32_t planesTimesBits) noexcept;

// Bytes of one row of a DIB of this depth and width, padded to 4 bytes.
std::uint64_t dibRowBytes(std::uint32_t depth, std::uint32_t width) noexcept;

// Bytes of the whole image (rows * height), or nothing when it exceeds kMaxImageBytes.
std::optional<std::uint32_t> dibImageBytes(std::uint32_t depth, std::uint32_t width,
                                           std::uint32_t height) noexcept;

// Colour-table entries that a DIB header of this depth makes room for: 2^depth below 24
// bits, none from 24 bits up.
std::uint32_t dibColourEntries(std::uint32_t depth) noexcept;

// Size of the RGBA buffer handed to the host for a DIB of this depth. A 16-bit image is
// given twice its DIB size: for odd widths that is one pixel more a row than the pixels
// need, and the pixels fill the first width * height * 4 bytes. A 32-bit image is given
// exactly its DIB size. Nothing for other depths or sizes past kMaxImageBytes.
std::optional<std::uint32_t> rgbaBufferBytes(std::uint32_t depth, std::uint32_t width,
                                             std::uint32_t height) noexcept;

}  // namespace vistrel
