// Window and application images of real windows painted in known colours, at the
// display depth this run was started with (32 bits on a 24-bit display, or 16).
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "test_window.h"
#include "windows/vistrel.h"

namespace {

using vistrel_test::onDisplay;
using vistrel_test::TestWindow;
using vistrel_test::WindowSetup;

struct Image {
    std::uint8_t* pixels = nullptr;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t size = 0;

    Image() = default;
    Image(const Image&) = delete;
    Image& operator=(const Image&) = delete;
    ~Image() { freeImageBuffer(pixels); }

    COLORREF colourAt(std::uint32_t x, std::uint32_t y) const {
        const std::uint8_t* p = pixels + (std::size_t{y} * width + x) * 4;
        return RGB(p[0], p[1], p[2]);
    }
    std::uint8_t alphaAt(std::uint32_t x, std::uint32_t y) const {
        return pixels[(std::size_t{y} * width + x) * 4 + 3];
    }
    bool isPlaceholder() const {
        if (pixels == nullptr || width != 16 || height != 16 || size != 1024) {
            return false;
        }
        for (std::uint32_t i = 0; i < 1024; ++i) {
            if (pixels[i] != 0) {
                return false;
            }
        }
        return true;
    }
};

using CaptureFn = std::uint8_t* (*)(HWND, std::uint32_t*, std::uint32_t*, std::uint32_t*);

void capture(CaptureFn fn, HWND window, Image& image) {
    image.pixels = fn(window, &image.width, &image.height, &image.size);
}

WindowSetup painted(RECT rect, vistrel_test::Colours colours = {}) {
    WindowSetup setup;
    setup.title = L"Painted window";
    setup.rect = rect;
    setup.style = WS_POPUP | WS_VISIBLE;
    setup.colours = colours;
    return setup;
}

std::uint32_t expectedSize(std::uint32_t width, std::uint32_t height) {
    // 16-bit pictures get their DIB size twice: one pixel more a row for odd widths.
    if (vistrel_test::displayDepth() == 16) {
        return (width + (width & 1)) * height * 4;
    }
    return width * height * 4;
}

TEST(Display, RunsAtTheDepthThisTestRunWasStartedFor) {
    const char* expected = std::getenv("VISTREL_EXPECTED_DEPTH");
    ASSERT_NE(expected, nullptr) << "the test registration sets VISTREL_EXPECTED_DEPTH";
    EXPECT_EQ(vistrel_test::displayDepth(), std::atoi(expected));
}

// Both captures of an uncovered window give its pattern, rows top first and lined up
// for an odd width, every pixel opaque.
TEST(Capture, KnownColoursTopRowFirstOddWidthOpaque) {
    const LONG width = 101;
    const LONG height = 60;
    TestWindow window(painted({50, 40, 50 + width, 40 + height}));
    window.showOnTop();
    const vistrel_test::Colours colours;

    for (CaptureFn fn : {&getWindowImage, &getApplicationImage}) {
        const bool screen = fn == &getWindowImage;
        SCOPED_TRACE(screen ? "window image" : "application image");
        Image image;
        capture(fn, window.get(), image);
        ASSERT_NE(image.pixels, nullptr);
        ASSERT_EQ(image.width, static_cast<std::uint32_t>(width));
        ASSERT_EQ(image.height, static_cast<std::uint32_t>(height));
        EXPECT_EQ(image.size, expectedSize(width, height));
        for (std::uint32_t y = 0; y < image.height; ++y) {
            const COLORREF half = y < image.height / 2 ? colours.top : colours.bottom;
            ASSERT_EQ(image.colourAt(0, y), onDisplay(half)) << "row " << y;
            ASSERT_EQ(image.colourAt(image.width - 2, y), onDisplay(half)) << "row " << y;
            ASSERT_EQ(image.colourAt(image.width - 1, y), onDisplay(colours.edge)) << "row " << y;
            for (std::uint32_t x = 0; x < image.width; ++x) {
                ASSERT_EQ(image.alphaAt(x, y), 255) << x << "," << y;
            }
        }
    }
}

TEST(Capture, FullChannelsArriveAsTheDisplayKeepsThem) {
    // White and a mid grey: on a 16-bit display 255 is kept in 5 bits as 31 and comes
    // back as 248, and 100 as 12 -> 96.
    vistrel_test::Colours colours{RGB(255, 255, 255), RGB(100, 100, 100), RGB(255, 255, 255)};
    TestWindow window(painted({60, 60, 140, 120}, colours));
    window.showOnTop();
    Image image;
    capture(&getWindowImage, window.get(), image);
    ASSERT_EQ(image.width, 80u);
    const std::uint8_t full = vistrel_test::displayDepth() == 16 ? 248 : 255;
    const std::uint8_t grey = vistrel_test::displayDepth() == 16 ? 96 : 100;
    EXPECT_EQ(image.colourAt(10, 5), RGB(full, full, full));
    EXPECT_EQ(image.colourAt(10, 55), RGB(grey, grey, grey));
}

TEST(Capture, WindowImageShowsWhatCoversTheWindow) {
    TestWindow window(painted({100, 100, 300, 200}));
    window.showOnTop();
    vistrel_test::Colours yellow{RGB(255, 255, 0), RGB(255, 255, 0), RGB(255, 255, 0)};
    WindowSetup coverSetup = painted({120, 110, 170, 150}, yellow);
    coverSetup.title = L"Cover";
    TestWindow cover(coverSetup);
    cover.showOnTop();

    Image image;
    capture(&getWindowImage, window.get(), image);
    ASSERT_EQ(image.width, 200u);
    ASSERT_EQ(image.height, 100u);
    EXPECT_EQ(image.colourAt(30, 20), onDisplay(RGB(255, 255, 0))) << "under the cover";
    EXPECT_EQ(image.colourAt(100, 20), onDisplay(RGB(255, 0, 0))) << "beside the cover";
    EXPECT_EQ(image.colourAt(30, 80), onDisplay(RGB(0, 0, 255))) << "below the cover";
}

TEST(Capture, FailuresGiveThePlaceholder) {
    TestWindow window(painted({100, 100, 200, 150}));
    window.showOnTop();
    const HWND gone = window.get();
    window.destroy();
    for (CaptureFn fn : {&getWindowImage, &getApplicationImage, &getIcon}) {
        for (HWND w : {HWND{nullptr}, gone}) {
            Image image;
            capture(fn, w, image);
            EXPECT_TRUE(image.isPlaceholder());
        }
    }
    // Outputs the caller did not give are skipped, and the buffer is still released.
    freeImageBuffer(getWindowImage(nullptr, nullptr, nullptr, nullptr));
}

TEST(Capture, WindowImageNeedsAForegroundWindow) {
    TestWindow window(painted({100, 100, 200, 150}));
    window.showOnTop();
    // Hiding the only window of this test leaves nothing in front (the capture itself
    // does not care whether the window is visible).
    ShowWindow(window.get(), SW_HIDE);
    vistrel_test::pumpMessages();
    if (GetForegroundWindow() != nullptr) {
        GTEST_SKIP() << "this desktop keeps a foreground window";
    }
    Image image;
    capture(&getWindowImage, window.get(), image);
    EXPECT_TRUE(image.isPlaceholder());
    // Once something is in front again the same window can be captured.
    window.showOnTop();
    Image shown;
    capture(&getWindowImage, window.get(), shown);
    EXPECT_EQ(shown.width, 100u);
}

}  // namespace
