#include "windows/dib_reader.h"

#include <cstring>

#include "windows/dib_layout.h"
#include "windows/pixel_convert.h"

namespace vistrel {

std::optional<DibHeader> DibHeader::fromBitmap(HBITMAP bitmap) noexcept {
    BITMAP bm{};
    if (GetObjectA(bitmap, sizeof bm, &bm) == 0) {
        return std::nullopt;
    }
    if (bm.bmWidth <= 0 || bm.bmHeight <= 0) {
        return std::nullopt;
    }
    const auto width = static_cast<std::uint32_t>(bm.bmWidth);
    const auto height = static_cast<std::uint32_t>(bm.bmHeight);
    const std::uint32_t depth = roundDibDepth(std::uint32_t{bm.bmPlanes} * bm.bmBitsPixel);
    const std::optional<std::uint32_t> imageBytes = dibImageBytes(depth, width, height);
    if (!imageBytes) {
        return std::nullopt;
    }
    const std::uint32_t colours = dibColourEntries(depth);
    HostBlock block =
        HostBlock::allocateZeroed(sizeof(BITMAPINFOHEADER) + std::size_t{colours} * sizeof(RGBQUAD));
    if (!block) {
        return std::nullopt;
    }
    BITMAPINFOHEADER header{};
    header.biSize = sizeof(BITMAPINFOHEADER);
    header.biWidth = bm.bmWidth;
    header.biHeight = bm.bmHeight;  // positive: rows come bottom-up
    header.biPlanes = bm.bmPlanes;
    header.biBitCount = bm.bmBitsPixel;
    header.biCompression = BI_RGB;
    header.biSizeImage = *imageBytes;
    header.biClrUsed = colours;
    std::memcpy(block.data(), &header, sizeof header);
    return DibHeader(std::move(block));
}

HostBlock readDibBits(HDC dc, HBITMAP bitmap, const DibHeader& header) noexcept {
    HostBlock bits = HostBlock::allocate(header.header().biSizeImage);
    if (!bits) {
        return {};
    }
    const auto rows = static_cast<UINT>(header.header().biHeight);
    if (GetDIBits(dc, bitmap, 0, rows, bits.data(), header.info(), DIB_RGB_COLORS) == 0) {
        return {};
    }
    return bits;
}

std::optional<RgbaImage> toRgba(const DibHeader& header, const HostBlock& bits,
                                const HostBlock* mask) noexcept {
    const BITMAPINFOHEADER& h = header.header();
    const auto width = static_cast<std::uint32_t>(h.biWidth);
    const auto height = static_cast<std::uint32_t>(h.biHeight);
    const std::uint32_t depth = h.biBitCount;
    const std::optional<std::uint32_t> size = rgbaBufferBytes(depth, width, height);
    // GetDIBits may have changed the header; the bits buffer must still hold every row.
    const std::optional<std::uint32_t> needed = dibImageBytes(depth, width, height);
    if (!size || !needed || bits.size() < *needed || (mask && mask->size() < *needed)) {
        return std::nullopt;
    }
    RgbaImage image;
    image.pixels = HostBlock::allocate(*size);
    if (!image.pixels) {
        return std::nullopt;
    }
    // A 16-bit picture of odd width gets more bytes than its pixels fill; keep the
    // rest defined.
    const std::size_t filled = std::size_t{width} * height * 4;
    std::memset(image.pixels.data() + filled, 0, *size - filled);
    image.width = width;
    image.height = height;
    const std::uint8_t* maskBits = mask ? mask->data() : nullptr;
    if (depth == 16) {
        convert555ToRgba(bits.data(), maskBits, width, height, image.pixels.data());
    } else {
        convert32ToRgba(bits.data(), maskBits, width, height, image.pixels.data());
    }
    return image;
}

}  // namespace vistrel
