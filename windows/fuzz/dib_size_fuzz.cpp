// Fuzz target for the image size arithmetic: widths, heights and depths anywhere in the
// 32-bit range, with the fuzzer steered towards the edges where products wrap. Every
// size that is accepted must be the exact product and fit the host's 32-bit signed
// size; every buffer must hold the pixels the converters write. Small pictures are
// converted for real, so that a converter that strays past its buffers is caught.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "windows/dib_layout.h"
#include "windows/pixel_convert.h"

using namespace vistrel;

namespace {

void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

uint32_t read32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// The low byte of `selector` picks a value near an edge, the rest of it an offset.
uint32_t nearEdge(uint32_t raw, uint8_t selector) {
    static const uint32_t kEdges[] = {0,          1,          0x7FFF,     0x8000,
                                      0xFFFF,     0x10000,    0x7FFFFFFF, 0x80000000,
                                      0xFFFFFFFF, 0x3FFFFFFF, 0x1FFFFFFF, 46340};
    if (selector < 128) {
        return raw;
    }
    const uint32_t edge = kEdges[selector % (sizeof kEdges / sizeof kEdges[0])];
    return edge + static_cast<int8_t>(raw & 0xFF);  // wraps around 0 on purpose
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 15) {
        return 0;
    }
    const uint32_t width = nearEdge(read32(data), data[12]);
    const uint32_t height = nearEdge(read32(data + 4), data[13]);
    const uint32_t bits = read32(data + 8);
    const bool masked = data[14] & 1;

    const uint32_t depth = roundDibDepth(bits);
    check(depth == 1 || depth == 4 || depth == 8 || depth == 16 || depth == 24 || depth == 32);
    check(bits <= 1 ? depth == 1 : depth >= (bits < 32 ? bits : 32));
    const uint32_t colours = dibColourEntries(depth);
    check(depth < 24 ? colours == (1u << depth) : colours == 0);

    for (uint32_t d : {depth, bits}) {
        const uint64_t row = dibRowBytes(d, width);
        // Rows hold every pixel, padded to 4 bytes, by fewer than 4 bytes (both 32-bit
        // factors, so the bit count fits 64 bits).
        const uint64_t exactBits = static_cast<uint64_t>(d) * width;
        check(row % 4 == 0 && row * 8 >= exactBits && (row * 8 - exactBits) < 32);
        const std::optional<uint32_t> image = dibImageBytes(d, width, height);
        // row * height may pass 64 bits (about 2^37 times 2^32): compared by division.
        const bool fits = height == 0 || row <= kMaxImageBytes / height;
        check(image.has_value() == fits);
        if (image) {
            check(*image == row * height);
        }
        const std::optional<uint32_t> rgba = rgbaBufferBytes(d, width, height);
        if (rgba) {
            check(d == 16 || d == 32);
            check(image.has_value() && *rgba <= kMaxImageBytes);
            check(*rgba == (d == 32 ? *image : 2 * static_cast<uint64_t>(*image)));
            // The converters fill width * height * 4 bytes of it.
            check(static_cast<uint64_t>(width) * height * 4 <= *rgba);
        }
    }

    // Convert small pictures into exact-size buffers.
    for (uint32_t d : {16u, 32u}) {
        const uint32_t w = width % 37;
        const uint32_t h = height % 19;
        const std::optional<uint32_t> image = dibImageBytes(d, w, h);
        const std::optional<uint32_t> rgba = rgbaBufferBytes(d, w, h);
        check(image && rgba);
        std::vector<uint8_t> source(*image);
        for (size_t i = 0; i < source.size(); ++i) {
            source[i] = data[i % size];
        }
        std::vector<uint8_t> mask(masked ? *image : 0, 0xFF);
        std::vector<uint8_t> out(static_cast<size_t>(w) * h * 4);
        const uint8_t* maskBits = masked ? mask.data() : nullptr;
        if (d == 16) {
            convert555ToRgba(source.data(), maskBits, w, h, out.data());
        } else {
            convert32ToRgba(source.data(), maskBits, w, h, out.data());
        }
        for (size_t i = 3; i < out.size(); i += 4) {
            check(!masked || out[i] == 0);
            check(masked || d == 32 || out[i] == 0xFF);
        }
    }
    return 0;
}
