// The icon of a window's program, from helper programs built with a known icon
// (make_test_icon.cmake) and without any.
#include <gtest/gtest.h>

#include "test_window.h"
#include "windows/vistrel.h"

namespace {

struct IconImage {
    std::uint8_t* pixels = nullptr;
    std::uint32_t width = 0, height = 0, size = 0;
    explicit IconImage(HWND window) { pixels = getIcon(window, &width, &height, &size); }
    ~IconImage() { freeImageBuffer(pixels); }
    IconImage(const IconImage&) = delete;
    IconImage& operator=(const IconImage&) = delete;
    const std::uint8_t* at(std::uint32_t x, std::uint32_t y) const {
        return pixels + (std::size_t{y} * width + x) * 4;
    }
};

TEST(Icon, KnownIconWithMaskAndAlpha) {
    vistrel_test::ChildApp app(L"vistrel_test_app_icon.exe", L"Vistrel app with icon");
    ASSERT_NE(app.window(), nullptr);
    IconImage icon(app.window());
    ASSERT_NE(icon.pixels, nullptr);
    ASSERT_EQ(icon.width, 32u);
    ASSERT_EQ(icon.height, 32u);
    EXPECT_EQ(icon.size, 32u * 32 * 4);

    const bool depth16 = vistrel_test::displayDepth() == 16;
    const std::uint8_t full = depth16 ? 248 : 255;
    // Quadrant centres, top row first: red opaque, green half transparent, blue under
    // a set mask, white opaque.
    const std::uint8_t* red = icon.at(8, 8);
    const std::uint8_t* green = icon.at(24, 8);
    const std::uint8_t* masked = icon.at(8, 24);
    const std::uint8_t* white = icon.at(24, 24);
    EXPECT_EQ(red[0], full);
    EXPECT_EQ(red[1], 0);
    EXPECT_EQ(red[2], 0);
    EXPECT_EQ(red[3], 255);
    EXPECT_EQ(green[0], 0);
    EXPECT_EQ(green[1], full);
    EXPECT_EQ(green[2], 0);
    // Where the mask is clear a 32-bit icon keeps its own alpha; a 16-bit one has none.
    EXPECT_EQ(green[3], depth16 ? 255 : 128);
    EXPECT_EQ(masked[3], 0);
    EXPECT_EQ(white[0], full);
    EXPECT_EQ(white[3], 255);
    // Every pixel of the masked quadrant is transparent, none elsewhere.
    for (std::uint32_t y = 0; y < 32; ++y) {
        for (std::uint32_t x = 0; x < 32; ++x) {
            const bool inMask = x < 16 && y >= 16;
            if (inMask) {
                ASSERT_EQ(icon.at(x, y)[3], 0) << x << "," << y;
            } else {
                ASSERT_NE(icon.at(x, y)[3], 0) << x << "," << y;
            }
        }
    }
}

TEST(Icon, ProgramWithoutIconsGivesThePlaceholder) {
    vistrel_test::ChildApp app(L"vistrel_test_app_plain.exe", L"Vistrel app without icon");
    ASSERT_NE(app.window(), nullptr);
    IconImage icon(app.window());
    ASSERT_NE(icon.pixels, nullptr);
    EXPECT_EQ(icon.width, 16u);
    EXPECT_EQ(icon.height, 16u);
    EXPECT_EQ(icon.size, 1024u);
    for (std::uint32_t i = 0; i < 1024; ++i) {
        ASSERT_EQ(icon.pixels[i], 0);
    }
}

}  // namespace
