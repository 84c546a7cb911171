// Reading a bitmap's pixels with GetDIBits and turning them into the host's RGBA image.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>

#include "windows/host_block.h"

namespace vistrel {

// A BITMAPINFOHEADER followed, below 24 bits, by room for 2^depth colour entries (all
// zero), built from a bitmap so that GetDIBits returns the bitmap in its own depth,
// bottom-up, rows padded to 4 bytes.
class DibHeader {
public:
    // Nothing when the bitmap cannot be queried, is empty, is too big for the host's
    // 32-bit sizes, or the header cannot be allocated.
    static std::optional<DibHeader> fromBitmap(HBITMAP bitmap) noexcept;

    BITMAPINFO* info() const noexcept { return reinterpret_cast<BITMAPINFO*>(m_block.data()); }
    const BITMAPINFOHEADER& header() const noexcept { return info()->bmiHeader; }

private:
    explicit DibHeader(HostBlock block) noexcept : m_block(std::move(block)) {}
    HostBlock m_block;
};

// The bitmap's bits in the header's format (GetDIBits with DIB_RGB_COLORS over all
// rows); an empty block when that fails or the buffer cannot be allocated.
HostBlock readDibBits(HDC dc, HBITMAP bitmap, const DibHeader& header) noexcept;

// Converts 16- and 32-bit bits (and the mask in the same format, or null) into an RGBA
// image whose buffer size follows rgbaBufferBytes. Nothing for other depths or when the
// buffer cannot be allocated.
std::optional<RgbaImage> toRgba(const DibHeader& header, const HostBlock& bits,
                                const HostBlock* mask) noexcept;

}  // namespace vistrel
