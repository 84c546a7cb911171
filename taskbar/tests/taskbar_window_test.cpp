// Taskelle in a test program under Wine: the load hook, the application identity,
// overlay icons, the missing-library messages, the window lookup and flashing.
#include <shobjidl.h>
#include <windows.h>

#include <gtest/gtest.h>

#include "support/mapped_views.h"
#include "support/output_capture.h"
#include "support/recording_shell.h"
#include "support/taskelle_library.h"
#include "support/test_jawt.h"
#include "tests/support/test_jvm.h"

namespace taskbar_test {
namespace {

constexpr COLORREF kIcon101Colour = RGB(0xE0, 0x20, 0x20);  // drawn by the build, see CMakeLists.txt
constexpr COLORREF kIcon105Colour = RGB(0x20, 0x40, 0xE0);

// Caption activation messages the window under test received; Wine's FlashWindowEx
// sends one to the window it flashes.
HWND g_watchedWindow = nullptr;
int g_ncActivateMessages = 0;

LRESULT CALLBACK recordingWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCACTIVATE && window == g_watchedWindow) {
        ++g_ncActivateMessages;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

class TaskbarWindow : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        WNDCLASSW wc{};
        wc.lpfnWndProc = recordingWindowProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"TaskelleTestWindow";
        RegisterClassW(&wc);
        s_window = CreateWindowExW(0, wc.lpszClassName, L"Taskelle test window", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                                   50, 50, 200, 120, nullptr, nullptr, wc.hInstance, nullptr);
    }
    static void TearDownTestSuite() { DestroyWindow(s_window); }

    void SetUp() override {
        ASSERT_NE(s_window, nullptr);
        ASSERT_TRUE(lib.complete()) << "Taskelle.dll is missing or lacks a native method";
        testJawtReset();
        testJawtSetWindow(s_window);
        shellRecord().overlays.clear();
    }

    void setOverlay(const std::u16string& library, int number) {
        lib.setOverlay(jvm.env(), jvm.hostObject(), jvm.component(), jvm.newString(library), number);
    }

    static HWND s_window;
    TestJvm& jvm = testJvm();
    TaskelleLibrary& lib = taskelle();
};

HWND TaskbarWindow::s_window = nullptr;

TEST_F(TaskbarWindow, LoadHookBindsTheHostClassAndItsCallback) {
    EXPECT_EQ(lib.onLoadResult, 0x10004);
    EXPECT_EQ(jvm.foundClass, "com/zephra/client/platform/windows/taskbar/WindowsTaskbarOperationsImpl");
    EXPECT_EQ(jvm.methodName, "onJumpListClick");
    EXPECT_EQ(jvm.methodSignature, "(Ljava/lang/String;)V");
    EXPECT_EQ(lib.getVersionNumber(jvm.env(), jvm.hostObject()), 2);
}

TEST_F(TaskbarWindow, InitGivesTheProcessItsIdentityAndKeepsTheTarget) {
    const int refsBefore = jvm.globalRefs;
    OutputCapture output;
    lib.init(jvm.env(), jvm.hostObject(), jvm.newString(u"unused"));
    EXPECT_EQ(output.out(), "");
    EXPECT_EQ(jvm.globalRefs, refsBefore + 1);

    PWSTR id = nullptr;
    const HRESULT hr = GetCurrentProcessExplicitAppUserModelID(&id);
    if (hr == E_NOTIMPL) {
        // Wine 8 accepts the identity (nothing was printed) but cannot report it.
        return;
    }
    ASSERT_EQ(hr, S_OK);
    EXPECT_STREQ(id, L"zephra.taskbar");
    CoTaskMemFree(id);
}

TEST_F(TaskbarWindow, InitAgainReplacesTheTargetAndDeletesTheOldReference) {
    lib.init(jvm.env(), jvm.hostObject(), jvm.newString(u"unused"));
    const int live = jvm.globalRefs - jvm.deletedGlobalRefs;
    lib.init(jvm.env(), jvm.hostObject(), jvm.newString(u"unused"));
    lib.init(jvm.env(), jvm.hostObject(), jvm.newString(u"unused"));
    EXPECT_EQ(jvm.globalRefs - jvm.deletedGlobalRefs, live) << "one target referenced at a time";
}

TEST_F(TaskbarWindow, NoCodeOfAnIconLibraryRuns) {
    // trace_icons.dll, beside the program, has the test icons and a DllMain that would
    // set a variable of this process if it ever ran.
    RecordingShellClasses classes(RecordingShellClasses::kTaskbarList);
    SetEnvironmentVariableW(L"TASKELLE_ICON_LIBRARY_RAN", nullptr);
    OutputCapture output;
    setOverlay(u"trace_icons.dll", 4);
    EXPECT_EQ(output.out(), "");
    ASSERT_EQ(shellRecord().overlays.size(), 1u);
    EXPECT_EQ(shellRecord().overlays[0].iconColor, kIcon105Colour);
    wchar_t value[8] = {};
    EXPECT_EQ(GetEnvironmentVariableW(L"TASKELLE_ICON_LIBRARY_RAN", value, 8), 0u)
        << "the icon library's DllMain ran";
    // The same library would run its code when loaded as a library, so the check can fail.
    HMODULE loaded = LoadLibraryW(L"trace_icons.dll");
    ASSERT_NE(loaded, nullptr);
    EXPECT_NE(GetEnvironmentVariableW(L"TASKELLE_ICON_LIBRARY_RAN", value, 8), 0u);
    FreeLibrary(loaded);
    SetEnvironmentVariableW(L"TASKELLE_ICON_LIBRARY_RAN", nullptr);
}

TEST_F(TaskbarWindow, OverlayNumbersMapToIconResourcesFromNative) {
    // Wine's own taskbar list: the icons load, the calls succeed and print nothing.
    // The test library has icons 101 and 105 only, so number 1 (102) is missing.
    OutputCapture output;
    setOverlay(u"test_icons.dll", 0);
    setOverlay(u"test_icons.dll", 4);
    EXPECT_EQ(output.out(), "");
    setOverlay(u"test_icons.dll", 1);
    EXPECT_EQ(output.out(), "Icon (102) Loading Failed : 1813\n");
    EXPECT_EQ(lib.clearOverlay(jvm.env(), jvm.hostObject(), jvm.component()), S_OK);
}

TEST_F(TaskbarWindow, OverlayShowsTheNumberedIconWithTheDescriptionAway) {
    RecordingShellClasses classes(RecordingShellClasses::kTaskbarList);
    setOverlay(u"test_icons.dll", 0);
    setOverlay(u"test_icons.dll", 4);
    ASSERT_EQ(shellRecord().overlays.size(), 2u);
    for (const OverlayCall& call : shellRecord().overlays) {
        EXPECT_EQ(call.window, s_window);
        EXPECT_TRUE(call.hasIcon);
        EXPECT_EQ(call.iconWidth, 16);
        EXPECT_EQ(call.description, L"Away");
    }
    EXPECT_EQ(shellRecord().overlays[0].iconColor, kIcon101Colour);
    EXPECT_EQ(shellRecord().overlays[1].iconColor, kIcon105Colour);

    EXPECT_EQ(lib.clearOverlay(jvm.env(), jvm.hostObject(), jvm.component()), S_OK);
    ASSERT_EQ(shellRecord().overlays.size(), 3u);
    EXPECT_EQ(shellRecord().overlays[2].window, s_window);
    EXPECT_FALSE(shellRecord().overlays[2].hasIcon);
    EXPECT_EQ(shellRecord().overlays[2].description, L"");
}

// Every overlay change maps its icon library; a view left behind each time would
// use up a 32-bit process's address space over a long session.
TEST_F(TaskbarWindow, OverlayChangesLeaveNoIconLibraryMapped) {
    RecordingShellClasses classes(RecordingShellClasses::kTaskbarList);
    // The first change settles whatever the system maps once for icons.
    setOverlay(u"test_icons.dll", 0);
    const std::size_t before = mappedImageViews();
    constexpr int kChanges = 1000;
    for (int i = 0; i < kChanges; ++i) {
        // From native\ and, by the second load, from beside the program.
        setOverlay(i % 2 == 0 ? u"test_icons.dll" : u"plain_icons.dll", i % 3 == 0 ? 4 : 0);
    }
    const std::size_t after = mappedImageViews();
    EXPECT_EQ(after, before) << kChanges << " overlay changes left " << after - before << " image views mapped";
    ASSERT_EQ(shellRecord().overlays.size(), static_cast<std::size_t>(kChanges + 1));
    // The icons handed to the taskbar are whole although their libraries went first.
    EXPECT_EQ(shellRecord().overlays[1].iconColor, kIcon105Colour);
    EXPECT_EQ(shellRecord().overlays[2].iconColor, kIcon101Colour);
    EXPECT_EQ(shellRecord().overlays.back().iconColor, kIcon105Colour);
}

TEST_F(TaskbarWindow, LibraryOutsideNativeIsFoundByTheSecondLoad) {
    // plain_icons.dll lies beside the program, not under native\.
    RecordingShellClasses classes(RecordingShellClasses::kTaskbarList);
    OutputCapture output;
    setOverlay(u"plain_icons.dll", 4);
    EXPECT_EQ(output.out(), "");
    ASSERT_EQ(shellRecord().overlays.size(), 1u);
    EXPECT_EQ(shellRecord().overlays[0].iconColor, kIcon105Colour);
}

TEST_F(TaskbarWindow, MissingLibraryIsReportedAndTheOverlayRemoved) {
    RecordingShellClasses classes(RecordingShellClasses::kTaskbarList);
    OutputCapture output;
    setOverlay(u"no_such_icons.dll", 2);
    const std::string text = output.out();
    // The library is mapped as a data file, so the error is the file's (not found).
    EXPECT_EQ(text.rfind("LoadLibrary Failed : 2\nIcon (103) Loading Failed : ", 0), 0u) << text;
    ASSERT_EQ(shellRecord().overlays.size(), 1u);
    EXPECT_FALSE(shellRecord().overlays[0].hasIcon);
    EXPECT_EQ(shellRecord().overlays[0].description, L"Away");
}

TEST_F(TaskbarWindow, NullOrOverlongLibraryNamesAreRefusedSafely) {
    RecordingShellClasses classes(RecordingShellClasses::kTaskbarList);
    OutputCapture output;
    lib.setOverlay(jvm.env(), jvm.hostObject(), jvm.component(), nullptr, 0);
    setOverlay(std::u16string(300, u'x') + u".dll", 0);
    const std::string text = output.out();
    EXPECT_NE(text.find("No icon library name given\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Icon library name too long\n"), std::string::npos) << text;
    ASSERT_EQ(shellRecord().overlays.size(), 2u);
    EXPECT_FALSE(shellRecord().overlays[0].hasIcon);
    EXPECT_FALSE(shellRecord().overlays[1].hasIcon);
}

TEST_F(TaskbarWindow, WindowLookupGivesBackTheSurfaceInOrder) {
    lib.flashWindow(jvm.env(), jvm.hostObject(), jvm.component());
    EXPECT_STREQ(testJawtCalls(), "ASLIiUF");
    EXPECT_EQ(testJawtRequestedVersion(), 0x10003);
}

TEST_F(TaskbarWindow, WindowLookupFailuresAreReported) {
    RecordingShellClasses classes(RecordingShellClasses::kTaskbarList);
    struct Case {
        int mode;
        const char* out;
        const char* err;
        const char* calls;
    };
    const Case cases[] = {
        {kJawtGetAwtFails, "Failed to find AWT\nHWND == NULL\n", "", "A"},
        {kJawtNoDrawingSurface, "HWND == NULL\n", "Failed to get DS\n", "AS"},
        {kJawtLockFails, "HWND == NULL\n", "Failed to lock DS\n", "ASLF"},
    };
    for (const Case& c : cases) {
        testJawtReset();
        testJawtSetMode(c.mode);
        shellRecord().overlays.clear();
        OutputCapture output;
        setOverlay(u"test_icons.dll", 0);
        EXPECT_EQ(output.out(), c.out) << "mode " << c.mode;
        EXPECT_EQ(output.err(), c.err) << "mode " << c.mode;
        EXPECT_STREQ(testJawtCalls(), c.calls) << "mode " << c.mode;
        ASSERT_EQ(shellRecord().overlays.size(), 1u);
        EXPECT_EQ(shellRecord().overlays[0].window, nullptr);
    }
}

TEST_F(TaskbarWindow, FlashingFlashesTheComponentsWindow) {
    HWND other = CreateWindowExW(0, L"TaskelleTestWindow", L"foreground", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 300,
                                 50, 100, 100, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    SetForegroundWindow(other);
    g_watchedWindow = s_window;
    g_ncActivateMessages = 0;
    {
        // Without a window nothing flashes, and nothing crashes.
        OutputCapture output;
        testJawtSetMode(kJawtGetAwtFails);
        lib.flashWindow(jvm.env(), jvm.hostObject(), jvm.component());
        EXPECT_EQ(output.out(), "Failed to find AWT\n");
    }
    EXPECT_EQ(g_ncActivateMessages, 0);
    {
        OutputCapture output;
        testJawtSetMode(kJawtWorks);
        lib.flashWindow(jvm.env(), jvm.hostObject(), jvm.component());
        EXPECT_EQ(output.out(), "");
    }
    EXPECT_GE(g_ncActivateMessages, 1);
    g_watchedWindow = nullptr;
    FLASHWINFO stop{sizeof(FLASHWINFO), s_window, FLASHW_STOP, 0, 0};
    FlashWindowEx(&stop);
    DestroyWindow(other);
}

}  // namespace
}  // namespace taskbar_test
