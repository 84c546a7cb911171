// DIB sizes, the host buffer sizes derived from them, and the placeholder image.
#include "windows/dib_layout.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "windows/host_block.h"

namespace {

using vistrel::dibImageBytes;
using vistrel::rgbaBufferBytes;

TEST(DibLayout, DepthRoundsUpToDibDepths) {
    const std::pair<unsigned, unsigned> cases[] = {{0, 1},   {1, 1},   {2, 4},   {4, 4},
                                                   {5, 8},   {8, 8},   {15, 16}, {16, 16},
                                                   {17, 24}, {24, 24}, {25, 32}, {32, 32},
                                                   {48, 32}};
    for (auto [bits, depth] : cases) {
        EXPECT_EQ(vistrel::roundDibDepth(bits), depth) << bits;
    }
}

TEST(DibLayout, RowsArePaddedToFourBytes) {
    EXPECT_EQ(vistrel::dibRowBytes(16, 3), 8u);
    EXPECT_EQ(vistrel::dibRowBytes(16, 4), 8u);
    EXPECT_EQ(vistrel::dibRowBytes(1, 33), 8u);
    EXPECT_EQ(vistrel::dibRowBytes(24, 5), 16u);
    EXPECT_EQ(vistrel::dibRowBytes(32, 5), 20u);
    EXPECT_EQ(vistrel::dibColourEntries(1), 2u);
    EXPECT_EQ(vistrel::dibColourEntries(8), 256u);
    EXPECT_EQ(vistrel::dibColourEntries(16), 65536u);
    EXPECT_EQ(vistrel::dibColourEntries(24), 0u);
}

TEST(DibLayout, HostBufferIsTwiceThe16BitImageAndExactly32BitImage) {
    // Odd 16-bit widths get one extra pixel a row: (width + 1) * height * 4.
    EXPECT_EQ(rgbaBufferBytes(16, 101, 7), 102u * 7 * 4);
    EXPECT_EQ(rgbaBufferBytes(16, 100, 7), 100u * 7 * 4);
    EXPECT_EQ(rgbaBufferBytes(32, 101, 7), 101u * 7 * 4);
    EXPECT_EQ(rgbaBufferBytes(24, 100, 7), std::nullopt);
    EXPECT_EQ(rgbaBufferBytes(8, 100, 7), std::nullopt);
}

TEST(DibLayout, SizesThatWouldWrapAreRefused) {
    EXPECT_EQ(dibImageBytes(32, 0xFFFFFFFFu, 0xFFFFFFFFu), std::nullopt);
    EXPECT_EQ(dibImageBytes(32, 32768, 32768), std::nullopt);  // 4 GiB
    EXPECT_EQ(dibImageBytes(32, 16384, 16384), 0x40000000u);
    // Fits as a DIB, but twice that does not fit the host's 32-bit size.
    EXPECT_EQ(rgbaBufferBytes(16, 32768, 16384), std::nullopt);
    EXPECT_EQ(rgbaBufferBytes(32, 32768, 16384), std::nullopt);
}

TEST(HostBlock, PlaceholderIsSixteenSquareTransparentBlack) {
    std::uint32_t width = 1;
    std::uint32_t height = 1;
    std::uint32_t size = 1;
    std::uint8_t* p = vistrel::handOver(vistrel::RgbaImage{}, &width, &height, &size);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(width, 16u);
    EXPECT_EQ(height, 16u);
    EXPECT_EQ(size, 1024u);
    EXPECT_TRUE(std::all_of(p, p + 1024, [](std::uint8_t b) { return b == 0; }));
    std::free(p);
    // Outputs the caller left null are skipped.
    std::free(vistrel::handOver(vistrel::RgbaImage{}, nullptr, nullptr, nullptr));
}

}  // namespace
