// Recording test doubles of shell COM classes (Windows tests only). Wine has no
// enumerable object collection and its destination list does not implement lists,
// and its taskbar list shows nothing a test could look at; these doubles, registered
// in-process for those classes, record what the library asks of them. The shell
// links the library builds are Wine's real ones; the doubles read them back.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace taskbar_test {

struct LinkSnapshot {
    bool separator = false;
    std::wstring title;
    std::wstring path;
    std::wstring arguments;
    std::wstring iconPath;
    int iconIndex = 0;
};

struct OverlayCall {
    HWND window = nullptr;
    bool hasIcon = false;
    COLORREF iconColor = 0;  // the icon's centre pixel
    int iconWidth = 0;
    std::wstring description;
};

struct ShellRecord {
    // In order: "BeginList", "AppendCategory", "AddUserTasks", "CommitList".
    std::vector<std::string> listCalls;
    std::wstring categoryName;
    std::vector<LinkSnapshot> category;
    std::vector<LinkSnapshot> tasks;
    std::vector<OverlayCall> overlays;
    // Set by the test: AddObject fails for a link with these arguments.
    std::wstring failAddingArguments;
    // What was set and committed on recording shell links, in order: "Title=<text>",
    // "Separator=<-1|0>", "Commit".
    std::vector<std::wstring> linkProperties;
    // Set by the test: creating the destination list fails with this result.
    HRESULT destinationListCreateResult = S_OK;
};

ShellRecord& shellRecord();

// Registers the recording class objects for its lifetime (on the calling thread,
// whose apartment the library's calls run in).
class RecordingShellClasses {
public:
    enum Which { kJumpList = 1, kTaskbarList = 2, kShellLink = 4 };
    explicit RecordingShellClasses(int which);
    ~RecordingShellClasses();
    RecordingShellClasses(const RecordingShellClasses&) = delete;
    RecordingShellClasses& operator=(const RecordingShellClasses&) = delete;

private:
    std::vector<DWORD> m_cookies;
};

}  // namespace taskbar_test
