// The icon of a window's program, from helper programs built with a known icon
// (make_test_icon.cmake) and without any.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>

#include "test_window.h"
#include "windows/vistrel.h"

namespace {

using Rgba = std::array<std::uint8_t, 4>;

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
    Rgba rgba(std::uint32_t x, std::uint32_t y) const {
        const std::uint8_t* p = at(x, y);
        return {p[0], p[1], p[2], p[3]};
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
    // Where the mask is clear a 32-bit icon keeps its own alpha; a 16-bit one has none.
    EXPECT_EQ(icon.rgba(8, 8), (Rgba{full, 0, 0, 255}));
    EXPECT_EQ(icon.rgba(24, 8), (Rgba{0, full, 0, std::uint8_t(depth16 ? 255 : 128)}));
    EXPECT_EQ(icon.rgba(8, 24)[3], 0);
    EXPECT_EQ(icon.rgba(24, 24), (Rgba{full, full, full, 255}));
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
    ASSERT_EQ(icon.size, 1024u);
    EXPECT_EQ(std::count(icon.pixels, icon.pixels + 1024, 0), 1024);
}

}  // namespace
