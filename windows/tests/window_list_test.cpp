// The window list and the small window queries, on real windows of this process and of
// a helper program.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <string>

#include "test_window.h"
#include "windows/vistrel.h"

namespace {

using vistrel_test::findRecord;
using vistrel_test::listWindows;
using vistrel_test::TestWindow;
using vistrel_test::WindowSetup;

WindowSetup titled(const wchar_t* title, RECT rect = {100, 100, 300, 200}) {
    WindowSetup setup;
    setup.title = title;
    setup.rect = rect;
    setup.style = WS_POPUP | WS_VISIBLE;
    return setup;
}

// A record's rectangle as left, top, right, bottom.
using Edges = std::array<std::int32_t, 4>;
Edges edges(const vistrel::WindowDataRecord& r) { return {r.left, r.top, r.right, r.bottom}; }

WindowSetup hiddenSetup() {
    WindowSetup setup;
    setup.title = L"Hidden window";
    setup.rect = {10, 10, 60, 60};
    return setup;
}

TEST(WindowList, FixedFacts) {
    EXPECT_EQ(GetVersionNumber(), 8);
    EXPECT_EQ(getWindowsDataSize(), 284);
    freeImageBuffer(nullptr);  // ignored
}

TEST(WindowList, TitledModeListsUnderRootOwnerTitleAndSkipsUntitled) {
    TestWindow owner(titled(L"Owner App", {50, 60, 250, 160}));
    WindowSetup paletteSetup = titled(L"Palette", {70, 80, 170, 130});
    paletteSetup.owner = owner.get();
    TestWindow palette(paletteSetup);
    WindowSetup untitledOwnedSetup = titled(L"", {90, 90, 140, 140});
    untitledOwnedSetup.owner = owner.get();
    TestWindow untitledOwned(untitledOwnedSetup);
    TestWindow untitledOwner(titled(L"", {300, 300, 400, 400}));
    WindowSetup orphanSetup = titled(L"Orphan palette", {310, 310, 360, 360});
    orphanSetup.owner = untitledOwner.get();
    TestWindow orphan(orphanSetup);
    TestWindow hidden(hiddenSetup());
    TestWindow front(titled(L"Front"));
    front.showOnTop();

    const auto list = listWindows(false);
    const auto* o = findRecord(list, owner.get());
    ASSERT_NE(o, nullptr);
    EXPECT_STREQ(o->title, "Owner App");
    EXPECT_EQ(o->titleLength, 9);
    EXPECT_EQ(o->iconized, 0);
    EXPECT_EQ(edges(*o), (Edges{50, 60, 250, 160}));

    // An owned window appears under its owner's title with its own handle and place.
    const auto* p = findRecord(list, palette.get());
    ASSERT_NE(p, nullptr);
    EXPECT_STREQ(p->title, "Owner App");
    EXPECT_EQ(p->titleLength, 9);
    EXPECT_EQ(edges(*p), (Edges{70, 80, 170, 130}));

    EXPECT_EQ(findRecord(list, untitledOwned.get()), nullptr) << "own title empty";
    EXPECT_EQ(findRecord(list, untitledOwner.get()), nullptr);
    EXPECT_EQ(findRecord(list, orphan.get()), nullptr) << "root owner untitled";
    EXPECT_EQ(findRecord(list, hidden.get()), nullptr) << "not visible";
}

TEST(WindowList, GeometryOnlyModeListsEveryVisibleWindowWithoutTitles) {
    TestWindow owner(titled(L"Owner App", {50, 60, 250, 160}));
    TestWindow untitled(titled(L"", {300, 310, 333, 350}));
    TestWindow hidden(hiddenSetup());
    TestWindow front(titled(L"Front"));
    front.showOnTop();

    const auto list = listWindows(true);
    for (HWND w : {owner.get(), untitled.get()}) {
        const auto* r = findRecord(list, w);
        ASSERT_NE(r, nullptr);
        EXPECT_EQ(r->titleLength, 0);
        EXPECT_EQ(r->title[0], '\0');
        EXPECT_EQ(r->iconized, 0);
    }
    const auto* u = findRecord(list, untitled.get());
    EXPECT_EQ(edges(*u), (Edges{300, 310, 333, 350}));
    EXPECT_EQ(findRecord(list, hidden.get()), nullptr);

    // Only the low 8 bits of the mode count: 0x100 is titled mode.
    void* block = nullptr;
    const std::int32_t count = getOpenWindowsData(&block, 0x100);
    ASSERT_NE(block, nullptr);
    const auto* records = static_cast<const vistrel::WindowDataRecord*>(block);
    bool untitledListed = false;
    for (std::int32_t i = 0; i < count; ++i) {
        untitledListed |= records[i].window == reinterpret_cast<std::uintptr_t>(untitled.get());
    }
    freeImageBuffer(block);
    EXPECT_FALSE(untitledListed);
}

TEST(WindowList, TopmostWindowIsNeverListedAndOrderIsTopDown) {
    TestWindow lower(titled(L"Lower window", {200, 200, 300, 300}));
    TestWindow upper(titled(L"Upper window", {220, 220, 320, 320}));
    WindowSetup topSetup = titled(L"Topmost window", {240, 240, 340, 340});
    topSetup.exStyle = WS_EX_TOPMOST;
    TestWindow top(topSetup);
    upper.showOnTop();
    SetWindowPos(top.get(), HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    vistrel_test::pumpMessages();
    ASSERT_EQ(GetTopWindow(nullptr), top.get());

    for (bool geometryOnly : {false, true}) {
        const auto list = listWindows(geometryOnly);
        EXPECT_EQ(findRecord(list, top.get()), nullptr);
        const auto* u = findRecord(list, upper.get());
        const auto* l = findRecord(list, lower.get());
        ASSERT_NE(u, nullptr);
        ASSERT_NE(l, nullptr);
        EXPECT_LT(u, l) << "Z order, upper first";
    }
}

TEST(WindowList, ListIsAReleasableBlockEvenWhenEmpty) {
    // On the test display this window is the only visible one, and as the topmost it
    // is not listed: the list is empty, yet a real block that the caller releases.
    TestWindow only(titled(L"Only window"));
    only.showOnTop();
    for (std::uint32_t mode : {0u, 1u}) {
        void* block = nullptr;
        const std::int32_t count = getOpenWindowsData(&block, mode);
        ASSERT_NE(block, nullptr);
        const auto* records = static_cast<const vistrel::WindowDataRecord*>(block);
        for (std::int32_t i = 0; i < count; ++i) {
            EXPECT_NE(records[i].window, reinterpret_cast<std::uintptr_t>(only.get()));
        }
        freeImageBuffer(block);
        std::printf("mode %u: %d window(s) below the topmost\n", mode, count);
    }
}

TEST(WindowList, LongTitleIsCutTo255Characters) {
    const std::wstring title(300, L'x');
    TestWindow window(titled(title.c_str()));
    TestWindow front(titled(L"Front"));
    front.showOnTop();
    const auto list = listWindows(false);
    const auto* r = findRecord(list, window.get());
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->titleLength, 255);
    EXPECT_EQ(std::string(r->title), std::string(255, 'x'));
}

TEST(WindowList, MinimizedWindowIsListedIconizedWithZeroRectangle) {
    WindowSetup setup = titled(L"Minimized app", {120, 130, 320, 230});
    setup.style = WS_OVERLAPPEDWINDOW | WS_VISIBLE;
    TestWindow window(setup);
    ShowWindow(window.get(), SW_MINIMIZE);
    TestWindow front(titled(L"Front"));
    front.showOnTop();
    ASSERT_TRUE(IsIconic(window.get()));
    EXPECT_EQ(isWindowIconized(window.get()), 1);
    EXPECT_EQ(isWindowIconized(front.get()), 0);

    for (bool geometryOnly : {false, true}) {
        const auto list = listWindows(geometryOnly);
        const auto* r = findRecord(list, window.get());
        ASSERT_NE(r, nullptr) << geometryOnly;
        EXPECT_EQ(r->iconized, 1);
        EXPECT_EQ(edges(*r), (Edges{0, 0, 0, 0}));
        EXPECT_STREQ(r->title, geometryOnly ? "" : "Minimized app");
        EXPECT_EQ(r->titleLength, geometryOnly ? 0 : 13);
    }
}

TEST(WindowQueries, BoundariesAreTheWholeWindowRectangle) {
    WindowSetup setup = titled(L"Framed", {100, 120, 350, 300});
    setup.style = WS_OVERLAPPEDWINDOW | WS_VISIBLE;
    TestWindow window(setup);
    std::int32_t left = -1, top = -1, right = -1, bottom = -1;
    ASSERT_EQ(getWindowBoundaries(window.get(), &left, &top, &right, &bottom), 1);
    RECT expected;
    GetWindowRect(window.get(), &expected);
    EXPECT_EQ(left, expected.left);
    EXPECT_EQ(top, expected.top);
    EXPECT_EQ(right, expected.right);
    EXPECT_EQ(bottom, expected.bottom);
    RECT client;
    GetClientRect(window.get(), &client);
    EXPECT_GT(bottom - top, client.bottom) << "frame and title bar included";

    const HWND gone = window.get();
    window.destroy();
    left = top = right = bottom = -7;
    EXPECT_EQ(getWindowBoundaries(gone, &left, &top, &right, &bottom), 0);
    EXPECT_EQ(left, -7);
    EXPECT_EQ(bottom, -7);
    EXPECT_EQ(getWindowBoundaries(nullptr, &left, &top, &right, &bottom), 0);
}

TEST(WindowQueries, RelatedMeansOwnedContainedOrSameProcess) {
    TestWindow main(titled(L"Main"));
    WindowSetup ownedSetup = titled(L"Owned");
    ownedSetup.owner = main.get();
    TestWindow owned(ownedSetup);
    TestWindow unrelatedHere(titled(L"Same process"));
    vistrel_test::ChildApp other(L"vistrel_test_app_plain.exe", L"Vistrel other process");
    ASSERT_NE(other.window(), nullptr);

    EXPECT_EQ(isWindowRelated(owned.get(), main.get()), 1);
    EXPECT_EQ(isWindowRelated(main.get(), owned.get()), 1);
    EXPECT_EQ(isWindowRelated(unrelatedHere.get(), main.get()), 1) << "same process";
    EXPECT_EQ(isWindowRelated(other.window(), main.get()), 0);
    EXPECT_EQ(isWindowRelated(main.get(), other.window()), 0);
    EXPECT_EQ(isWindowRelated(nullptr, main.get()), 0);
    EXPECT_EQ(isWindowRelated(main.get(), nullptr), 0);

    const HWND gone = unrelatedHere.get();
    unrelatedHere.destroy();
    EXPECT_EQ(isWindowRelated(gone, main.get()), 0) << "process id cannot be read";
}

TEST(WindowQueries, SetForegroundWindowRunsTheWholeChainForThisThread) {
    WindowSetup aSetup = titled(L"First", {100, 100, 200, 200});
    aSetup.style = WS_OVERLAPPEDWINDOW | WS_VISIBLE;
    WindowSetup bSetup = aSetup;
    bSetup.title = L"Second";
    TestWindow a(aSetup);
    TestWindow b(bSetup);
    a.showOnTop();
    SetFocus(a.get());
    ASSERT_EQ(GetFocus(), a.get());

    EXPECT_NE(setForegroundWindow(b.get()), 0);
    vistrel_test::pumpMessages();
    EXPECT_EQ(getActiveWindow(), b.get());
    EXPECT_EQ(GetForegroundWindow(), b.get());
    EXPECT_EQ(GetFocus(), b.get());

    // A window of another thread cannot take this thread's focus: the chain stops there
    // and reports failure, though the window has been brought forward.
    vistrel_test::ChildApp other(L"vistrel_test_app_plain.exe", L"Vistrel foreground other");
    ASSERT_NE(other.window(), nullptr);
    EXPECT_EQ(setForegroundWindow(other.window()), 0);
    vistrel_test::pumpMessages();
    EXPECT_EQ(getActiveWindow(), other.window());

    const HWND gone = a.get();
    a.destroy();
    EXPECT_EQ(setForegroundWindow(gone), 0);
}

}  // namespace
