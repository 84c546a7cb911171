// DIB rows to host RGBA: channel order, row order, row padding and the mask rules.
#include "windows/pixel_convert.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

#include "windows/dib_layout.h"

namespace {

using Rgba = std::array<std::uint8_t, 4>;

Rgba pixelAt(const std::vector<std::uint8_t>& out, std::uint32_t width, std::uint32_t x,
             std::uint32_t y) {
    const std::size_t i = (std::size_t{y} * width + x) * 4;
    return {out[i], out[i + 1], out[i + 2], out[i + 3]};
}

std::uint16_t pack555(unsigned r, unsigned g, unsigned b) {
    return static_cast<std::uint16_t>((r << 10) | (g << 5) | b);
}

// A 16-bit DIB whose pixel (x, y) of the picture (y = 0 at the top) has red = x,
// green = y and blue = 31, with the row padding filled with junk that must not show.
std::vector<std::uint8_t> dib555(std::uint32_t width, std::uint32_t height) {
    const std::size_t stride = static_cast<std::size_t>(vistrel::dibRowBytes(16, width));
    std::vector<std::uint8_t> bits(stride * height, 0xAB);
    for (std::uint32_t y = 0; y < height; ++y) {
        std::uint8_t* row = bits.data() + (height - 1 - y) * stride;  // bottom-up
        for (std::uint32_t x = 0; x < width; ++x) {
            const std::uint16_t v = pack555(x, y, 31);
            row[x * 2] = static_cast<std::uint8_t>(v & 0xFF);
            row[x * 2 + 1] = static_cast<std::uint8_t>(v >> 8);
        }
    }
    return bits;
}

TEST(Convert555, OddWidthRowsLineUpTopRowFirst) {
    for (std::uint32_t width : {1u, 3u, 5u, 7u, 8u}) {
        const std::uint32_t height = 4;
        const std::vector<std::uint8_t> bits = dib555(width, height);
        std::vector<std::uint8_t> out(std::size_t{width} * height * 4, 0x5A);
        vistrel::convert555ToRgba(bits.data(), nullptr, width, height, out.data());
        for (std::uint32_t y = 0; y < height; ++y) {
            for (std::uint32_t x = 0; x < width; ++x) {
                const Rgba expected{static_cast<std::uint8_t>(x << 3),
                                    static_cast<std::uint8_t>(y << 3), 248, 255};
                ASSERT_EQ(pixelAt(out, width, x, y), expected)
                    << "width " << width << " at " << x << "," << y;
            }
        }
    }
}

TEST(Convert555, FullChannelBecomes248AndChannelsStaySeparate) {
    // One pixel per channel at full scale; bit 15 set as well, which is not a channel.
    const std::uint16_t pixels[4] = {pack555(31, 0, 0), pack555(0, 31, 0), pack555(0, 0, 31),
                                     static_cast<std::uint16_t>(0x8000 | pack555(1, 2, 3))};
    std::uint8_t bits[8];
    for (int i = 0; i < 4; ++i) {
        bits[i * 2] = static_cast<std::uint8_t>(pixels[i] & 0xFF);
        bits[i * 2 + 1] = static_cast<std::uint8_t>(pixels[i] >> 8);
    }
    std::vector<std::uint8_t> out(16);
    vistrel::convert555ToRgba(bits, nullptr, 4, 1, out.data());
    EXPECT_EQ(pixelAt(out, 4, 0, 0), (Rgba{248, 0, 0, 255}));
    EXPECT_EQ(pixelAt(out, 4, 1, 0), (Rgba{0, 248, 0, 255}));
    EXPECT_EQ(pixelAt(out, 4, 2, 0), (Rgba{0, 0, 248, 255}));
    EXPECT_EQ(pixelAt(out, 4, 3, 0), (Rgba{8, 16, 24, 255}));
}

TEST(Convert555, MaskLowByteMakesPixelTransparent) {
    // Width 3 (padded rows), two rows. Mask values as GetDIBits renders a monochrome
    // mask in 16 bits: white 0x7FFF, black 0; 0x0100 has only its high byte set.
    const std::uint32_t width = 3;
    const std::uint32_t height = 2;
    const std::vector<std::uint8_t> bits = dib555(width, height);
    std::vector<std::uint8_t> mask(bits.size(), 0);
    auto setMask = [&](std::uint32_t x, std::uint32_t y, std::uint16_t v) {
        const std::size_t stride = static_cast<std::size_t>(vistrel::dibRowBytes(16, width));
        std::uint8_t* row = mask.data() + (height - 1 - y) * stride;
        row[x * 2] = static_cast<std::uint8_t>(v & 0xFF);
        row[x * 2 + 1] = static_cast<std::uint8_t>(v >> 8);
    };
    setMask(0, 0, 0x7FFF);
    setMask(2, 1, 0x0001);
    setMask(1, 1, 0x0100);
    std::vector<std::uint8_t> out(width * height * 4);
    vistrel::convert555ToRgba(bits.data(), mask.data(), width, height, out.data());
    EXPECT_EQ(pixelAt(out, width, 0, 0)[3], 0);
    EXPECT_EQ(pixelAt(out, width, 1, 0)[3], 255);
    EXPECT_EQ(pixelAt(out, width, 2, 0)[3], 255);
    EXPECT_EQ(pixelAt(out, width, 0, 1)[3], 255);
    EXPECT_EQ(pixelAt(out, width, 1, 1)[3], 255);
    EXPECT_EQ(pixelAt(out, width, 2, 1)[3], 0);
    // Colour is kept under the mask.
    EXPECT_EQ(pixelAt(out, width, 0, 0), (Rgba{0, 0, 248, 0}));
}

// A 32-bit DIB: pixel (x, y) is blue = x, green = y, red = 200, fourth byte = alpha(x, y).
std::vector<std::uint8_t> dib32(std::uint32_t width, std::uint32_t height) {
    std::vector<std::uint8_t> bits(std::size_t{width} * height * 4);
    for (std::uint32_t y = 0; y < height; ++y) {
        std::uint8_t* row = bits.data() + std::size_t{height - 1 - y} * width * 4;
        for (std::uint32_t x = 0; x < width; ++x) {
            row[x * 4] = static_cast<std::uint8_t>(x);
            row[x * 4 + 1] = static_cast<std::uint8_t>(y);
            row[x * 4 + 2] = 200;
            row[x * 4 + 3] = static_cast<std::uint8_t>(10 + x + y);
        }
    }
    return bits;
}

TEST(Convert32, SwapsToRgbaTopRowFirstAndIgnoresFourthByteWithoutMask) {
    const std::uint32_t width = 5;
    const std::uint32_t height = 3;
    const std::vector<std::uint8_t> bits = dib32(width, height);
    std::vector<std::uint8_t> out(bits.size());
    vistrel::convert32ToRgba(bits.data(), nullptr, width, height, out.data());
    for (std::uint32_t y = 0; y < height; ++y) {
        for (std::uint32_t x = 0; x < width; ++x) {
            const Rgba expected{200, static_cast<std::uint8_t>(y), static_cast<std::uint8_t>(x),
                                255};
            ASSERT_EQ(pixelAt(out, width, x, y), expected) << x << "," << y;
        }
    }
}

TEST(Convert32, MaskFirstByteClearsAlphaElseIconAlphaIsKept) {
    const std::uint32_t width = 3;
    const std::uint32_t height = 2;
    const std::vector<std::uint8_t> bits = dib32(width, height);
    std::vector<std::uint8_t> mask(bits.size(), 0);
    // Mask pixel (x, y) of the picture, bytes in memory order.
    auto maskAt = [&](std::uint32_t x, std::uint32_t y) {
        return mask.data() + (std::size_t{height - 1 - y} * width + x) * 4;
    };
    maskAt(1, 0)[0] = 0xFF;  // white mask pixel
    maskAt(2, 1)[1] = 0xFF;  // only the second byte: not transparent
    std::vector<std::uint8_t> out(bits.size());
    vistrel::convert32ToRgba(bits.data(), mask.data(), width, height, out.data());
    EXPECT_EQ(pixelAt(out, width, 0, 0)[3], 10);
    EXPECT_EQ(pixelAt(out, width, 1, 0)[3], 0);
    EXPECT_EQ(pixelAt(out, width, 2, 0)[3], 12);
    EXPECT_EQ(pixelAt(out, width, 0, 1)[3], 11);
    EXPECT_EQ(pixelAt(out, width, 2, 1)[3], 13);
    EXPECT_EQ(pixelAt(out, width, 1, 0), (Rgba{200, 0, 1, 0}));
}

}  // namespace
