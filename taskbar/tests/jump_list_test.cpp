// The jump list rebuilt by Taskelle, observed through recording destination list and
// object collection doubles (Wine lacks both); the shell links are Wine's own.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "support/mapped_views.h"
#include "support/output_capture.h"
#include "support/recording_shell.h"
#include "support/taskelle_library.h"
#include "tests/support/test_jvm.h"

namespace taskbar_test {
namespace {

using Calls = std::vector<std::string>;

std::wstring currentDirectory() {
    wchar_t buffer[MAX_PATH];
    const DWORD n = GetCurrentDirectoryW(MAX_PATH, buffer);
    return std::wstring(buffer, n);
}

class JumpList : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(lib.complete());
        ShellRecord& record = shellRecord();
        record.failAddingArguments.clear();
        record.destinationListCreateResult = S_OK;
        lib.clearJumpList(jvm.env(), jvm.hostObject());
        resetRecord();
    }

    static void resetRecord() {
        ShellRecord& record = shellRecord();
        record.listCalls.clear();
        record.categoryName.clear();
        record.category.clear();
        record.tasks.clear();
    }

    void add(const std::u16string& label, const std::u16string& arguments, const std::u16string& category,
             const std::u16string& iconLibrary = u"test_icons.dll", int iconIndex = 0) {
        lib.addToJumpList(jvm.env(), jvm.hostObject(), jvm.newString(label), jvm.newString(arguments),
                          jvm.newString(category), jvm.newString(iconLibrary), iconIndex);
    }
    void addSeparator() { lib.addSeparatorToJumpList(jvm.env(), jvm.hostObject()); }

    // The entries of a collection by their arguments, separators as "----". (Wine's
    // shell link keeps the path, arguments and icon but does not give its title back.)
    static std::vector<std::wstring> titles(const std::vector<LinkSnapshot>& links) {
        std::vector<std::wstring> out;
        for (const LinkSnapshot& link : links) {
            out.push_back(link.separator || link.path.empty() ? L"----" : link.arguments);
        }
        return out;
    }

    RecordingShellClasses m_classes{RecordingShellClasses::kJumpList};
    TestJvm& jvm = testJvm();
    TaskelleLibrary& lib = taskelle();
};

TEST_F(JumpList, CategoryEntriesShareOneCategoryAndTasksKeepTheirOrder) {
    add(u"Open", u"--open x", u"A", u"test_icons.dll", 3);
    add(u"Call", u"--call \"a b\"", u"");
    addSeparator();
    add(u"Join", u"--join", u"B");
    resetRecord();
    OutputCapture output;
    add(u"Quit", u"--quit", u"", u"no_such_icons.dll", 7);
    EXPECT_EQ(output.out(), "");

    const ShellRecord& record = shellRecord();
    EXPECT_EQ(record.listCalls, (Calls{"BeginList", "AppendCategory", "AddUserTasks", "CommitList"}));
    EXPECT_EQ(record.categoryName, L"A");
    EXPECT_EQ(titles(record.category), (std::vector<std::wstring>{L"--open x", L"--join"}));
    EXPECT_EQ(titles(record.tasks), (std::vector<std::wstring>{L"--call \"a b\"", L"----", L"--quit"}));

    const std::wstring dir = currentDirectory();
    const LinkSnapshot& open = record.category[0];
    EXPECT_EQ(open.path, dir + L"\\ZephraTaskRunner.exe");
    EXPECT_EQ(open.arguments, L"--open x");
    EXPECT_EQ(open.iconPath, dir + L"\\native\\test_icons.dll");
    EXPECT_EQ(open.iconIndex, 3);
    EXPECT_EQ(record.tasks[0].arguments, L"--call \"a b\"");
    const LinkSnapshot& quit = record.tasks[2];
    EXPECT_EQ(quit.path, dir + L"\\ZephraTaskRunner.exe");
    EXPECT_EQ(quit.iconPath, dir + L"\\no_such_icons.dll");
    EXPECT_EQ(quit.iconIndex, 7);
}

TEST_F(JumpList, NullLabelIsASeparator) {
    lib.addToJumpList(jvm.env(), jvm.hostObject(), nullptr, nullptr, nullptr, nullptr, 0);
    add(u"After", u"--after", u"");
    EXPECT_EQ(titles(shellRecord().tasks), (std::vector<std::wstring>{L"----", L"--after"}));
}

TEST_F(JumpList, NullArgumentsAreRefusedWithoutTouchingTheList) {
    OutputCapture output;
    lib.addToJumpList(jvm.env(), jvm.hostObject(), jvm.newString(u"Label"), nullptr, jvm.newString(u""),
                      jvm.newString(u"x.dll"), 0);
    EXPECT_EQ(output.out(), "Jump list entry refused: arguments, category and icon library must not be null\n");
    EXPECT_TRUE(shellRecord().listCalls.empty());
}

TEST_F(JumpList, ClearingAnEmptyListCommitsAnEmptyJumpList) {
    OutputCapture output;
    lib.clearJumpList(jvm.env(), jvm.hostObject());
    lib.close(jvm.env(), jvm.hostObject());
    EXPECT_EQ(output.out(), "");
    EXPECT_EQ(shellRecord().listCalls, (Calls{"BeginList", "CommitList", "BeginList", "CommitList"}));
}

TEST_F(JumpList, TargetFollowsTheCurrentDirectoryAtRebuildTime) {
    const std::wstring before = currentDirectory();
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    std::wstring other = temp;
    if (!other.empty() && other.back() == L'\\') {
        other.pop_back();
    }
    ASSERT_TRUE(SetCurrentDirectoryW(other.c_str()));
    add(u"Elsewhere", u"--x", u"");
    SetCurrentDirectoryW(before.c_str());
    ASSERT_EQ(shellRecord().tasks.size(), 1u);
    EXPECT_EQ(shellRecord().tasks[0].path, other + L"\\ZephraTaskRunner.exe");
    EXPECT_EQ(shellRecord().tasks[0].iconPath, other + L"\\test_icons.dll");
}

TEST_F(JumpList, BrokenTaskIsLeftOutUnlessItIsTheLast) {
    shellRecord().failAddingArguments = L"--broken";
    add(u"Good", u"--good", u"");
    resetRecord();
    OutputCapture output;
    add(u"Broken", u"--broken", u"");
    EXPECT_EQ(output.out(), "Failed adding Task\nError building jumplist\n");
    EXPECT_EQ(shellRecord().listCalls, (Calls{"BeginList"}));  // nothing committed

    add(u"After", u"--after", u"");
    EXPECT_EQ(shellRecord().listCalls, (Calls{"BeginList", "BeginList", "AddUserTasks", "CommitList"}));
    EXPECT_EQ(titles(shellRecord().tasks), (std::vector<std::wstring>{L"--good", L"--after"}));
}

TEST_F(JumpList, BrokenLastCategoryEntryStopsBeforeTheTasks) {
    shellRecord().failAddingArguments = L"--broken";
    add(u"Task", u"--task", u"");
    resetRecord();
    OutputCapture output;
    add(u"Broken", u"--broken", u"A");
    EXPECT_EQ(output.out(), "Failed adding Category\nError building jumplist\n");
    EXPECT_EQ(shellRecord().listCalls, (Calls{"BeginList"}));
}

TEST_F(JumpList, DestinationListThatCannotBeCreatedIsNamed) {
    shellRecord().destinationListCreateResult = E_NOINTERFACE;
    OutputCapture output;
    lib.close(jvm.env(), jvm.hostObject());
    const std::string text = output.out();
    EXPECT_EQ(text.rfind("Failed CoCreateInstance ", 0), 0u) << text;
    EXPECT_NE(text.find(" 80004002\nE_NOINTERFACE\nError clearing jumplist on close\n"), std::string::npos) << text;
}

TEST_F(JumpList, LinksAreTitledWithTheirLabelAndSeparatorsFlagged) {
    RecordingShellClasses links(RecordingShellClasses::kShellLink);
    add(u"First \u00e9", u"--first", u"");
    shellRecord().linkProperties.clear();
    addSeparator();
    EXPECT_EQ(shellRecord().linkProperties,
              (std::vector<std::wstring>{L"Title=First \u00e9", L"Commit", L"Separator=-1", L"Commit"}));
    EXPECT_EQ(titles(shellRecord().tasks), (std::vector<std::wstring>{L"--first", L"----"}));
}

TEST(JumpListOnWine, WinesOwnDestinationListFailsTheTransactionVisibly) {
    // No recording classes: Wine's destination list refuses BeginList.
    TestJvm& jvm = testJvm();
    OutputCapture output;
    taskelle().addSeparatorToJumpList(jvm.env(), jvm.hostObject());
    taskelle().clearJumpList(jvm.env(), jvm.hostObject());
    EXPECT_EQ(output.out(),
              "Failed BeginList\nError building jumplist (adding separator)\nFailed BeginList\nError clearing jumplist\n");
}

// Each entry's icon lookup maps the library under native\ to see whether it is
// there; no view of it may stay behind.
TEST_F(JumpList, IconLookupsLeaveNoIconLibraryMapped) {
    add(u"Open", u"--open", u"", u"test_icons.dll", 0);
    lib.clearJumpList(jvm.env(), jvm.hostObject());
    const std::size_t before = mappedImageViews();
    constexpr int kRebuilds = 200;
    for (int i = 0; i < kRebuilds; ++i) {
        add(u"Open", u"--open", u"", u"test_icons.dll", 0);
        lib.clearJumpList(jvm.env(), jvm.hostObject());
    }
    const std::size_t after = mappedImageViews();
    EXPECT_EQ(after, before) << kRebuilds << " lookups left " << after - before << " image views mapped";
}

}  // namespace
}  // namespace taskbar_test
