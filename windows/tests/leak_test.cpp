// Thousands of captures leave the process's GDI objects, USER objects and kernel
// handles where they were. Wine answers GetGuiResources and GetProcessHandleCount with
// 0, so where they do, the counts are taken through other documented calls: the free
// room for new GDI and USER objects, and the handle values that name an open handle.
#include <gtest/gtest.h>

#include <vector>

#include "test_window.h"
#include "windows/vistrel.h"

namespace {

// How many more objects `create` can make before it fails (each is released again).
template <typename Create, typename Release>
long freeRoom(Create create, Release release) {
    std::vector<decltype(create())> made;
    made.reserve(70000);
    for (;;) {
        auto object = create();
        if (object == nullptr || made.size() >= 70000) {
            if (object != nullptr) {
                release(object);
            }
            break;
        }
        made.push_back(object);
    }
    for (auto object : made) {
        release(object);
    }
    return static_cast<long>(made.size());
}

struct Counts {
    long gdiInUse;   // GDI objects (taken as minus the free room where uncounted)
    long userInUse;  // USER objects, likewise
    long handles;    // open kernel handles

    static Counts take() {
        Counts c{};
        c.gdiInUse = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
        if (c.gdiInUse == 0) {
            c.gdiInUse = -freeRoom([] { return CreateRectRgn(0, 0, 1, 1); },
                                   [](HRGN r) { DeleteObject(r); });
        }
        c.userInUse = GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS);
        if (c.userInUse == 0) {
            ACCEL accel{FVIRTKEY, 'A', 1};
            c.userInUse = -freeRoom([&] { return CreateAcceleratorTableW(&accel, 1); },
                                    [](HACCEL a) { DestroyAcceleratorTable(a); });
        }
        DWORD count = 0;
        if (GetProcessHandleCount(GetCurrentProcess(), &count) && count != 0) {
            c.handles = static_cast<long>(count);
        } else {
            for (std::uintptr_t value = 4; value < 0x20000; value += 4) {
                DWORD flags;
                c.handles += GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags) ? 1 : 0;
            }
        }
        return c;
    }
};

TEST(Leaks, ThousandsOfCapturesReleaseEverything) {
    vistrel_test::WindowSetup setup;
    setup.title = L"Leak check";
    setup.rect = {100, 100, 261, 181};  // odd width
    setup.style = WS_POPUP | WS_VISIBLE;
    vistrel_test::TestWindow window(setup);
    window.showOnTop();
    vistrel_test::ChildApp app(L"vistrel_test_app_icon.exe", L"Vistrel leak icon app");
    ASSERT_NE(app.window(), nullptr);

    auto captureAll = [&] {
        std::uint32_t w, h, size;
        for (auto* fn : {&getWindowImage, &getApplicationImage}) {
            std::uint8_t* p = fn(window.get(), &w, &h, &size);
            ASSERT_EQ(w, 161u);
            freeImageBuffer(p);
        }
        std::uint8_t* icon = getIcon(app.window(), &w, &h, &size);
        ASSERT_EQ(w, 32u);
        freeImageBuffer(icon);
        void* list = nullptr;
        getOpenWindowsData(&list, 0);
        freeImageBuffer(list);
    };
    // The first calls may set up caches of their own inside the system libraries.
    for (int i = 0; i < 20; ++i) {
        captureAll();
    }
    const Counts before = Counts::take();
    constexpr int kRounds = 2000;
    for (int i = 0; i < kRounds; ++i) {
        captureAll();
        if (HasFatalFailure()) {
            return;
        }
    }
    const Counts after = Counts::take();
    // One object a capture left behind would show as thousands; allow a little room
    // for the system's own lazily made objects.
    EXPECT_NEAR(after.gdiInUse, before.gdiInUse, 8);
    EXPECT_NEAR(after.userInUse, before.userInUse, 8);
    EXPECT_NEAR(after.handles, before.handles, 8);
    std::printf("GDI %ld -> %ld, USER %ld -> %ld, handles %ld -> %ld\n", before.gdiInUse,
                after.gdiInUse, before.userInUse, after.userInUse, before.handles, after.handles);
}

}  // namespace
