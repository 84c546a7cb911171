// Elevix.exe as a whole, under a real window system: it is started with CreateProcessW
// and starts the probe program, which records how it was started.
#include <windows.h>

#include <shellapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "child_process_win32.h"
#include "launchers/elevix/admin_check.h"
#include "platform/win32_handle.h"

namespace {

using elevix::test::ChildProcess;
using elevix::test::testProgramDirectory;

constexpr DWORD kExitTimeoutMs = 30000;

std::wstring fullPath(const std::wstring& path) {
    wchar_t full[MAX_PATH];
    const DWORD length = GetFullPathNameW(path.c_str(), MAX_PATH, full, nullptr);
    return std::wstring(full, length);
}

std::wstring inQuotes(const std::wstring& text) {
    return L"\"" + text + L"\"";
}

std::wstring elevixPath() {
    return fullPath(testProgramDirectory() + L"\\..\\stage\\Elevix.exe");
}
std::wstring probePath() {
    return testProgramDirectory() + L"\\elevix_probe.exe";
}

// How the probe was started, as it recorded it.
struct ProbeRecord {
    bool present = false;
    DWORD startupFlags = 0;
    unsigned showCommand = 0;
    std::wstring commandLine;
    std::vector<std::wstring> arguments;  // after the program name
};

// One run of Elevix with the probe's behaviour set through the inherited environment.
class ElevixProgram : public testing::Test {
  protected:
    void SetUp() override {
        wchar_t dir[MAX_PATH];
        GetTempPathW(MAX_PATH, dir);
        m_recordPath =
            std::wstring(dir) + L"elevix_probe_" + std::to_wstring(GetCurrentProcessId()) + L".txt";
        DeleteFileW(m_recordPath.c_str());
        SetEnvironmentVariableW(L"ELEVIX_PROBE_RECORD", m_recordPath.c_str());
        setProbe(0, 0);
    }
    void TearDown() override {
        DeleteFileW(m_recordPath.c_str());
        SetEnvironmentVariableW(L"ELEVIX_PROBE_RECORD", nullptr);
        SetEnvironmentVariableW(L"ELEVIX_PROBE_EXIT", nullptr);
        SetEnvironmentVariableW(L"ELEVIX_PROBE_DELAY_MS", nullptr);
    }

    static void setProbe(int exitCode, int delayMs) {
        SetEnvironmentVariableW(L"ELEVIX_PROBE_EXIT", std::to_wstring(exitCode).c_str());
        SetEnvironmentVariableW(L"ELEVIX_PROBE_DELAY_MS", std::to_wstring(delayMs).c_str());
    }

    ProbeRecord readRecord() const {
        ProbeRecord record;
        HANDLE file = CreateFileW(m_recordPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            return record;
        }
        std::wstring text(GetFileSize(file, nullptr) / sizeof(wchar_t), L'\0');
        DWORD read = 0;
        ReadFile(file, text.data(), static_cast<DWORD>(text.size() * sizeof(wchar_t)), &read,
                 nullptr);
        CloseHandle(file);
        const std::size_t newline = text.find(L'\n');
        if (newline == std::wstring::npos) {
            return record;
        }
        record.present = true;
        swscanf(text.c_str(), L"%lu %u", &record.startupFlags, &record.showCommand);
        record.commandLine = text.substr(newline + 1);
        int count = 0;
        LPWSTR* argv = CommandLineToArgvW(record.commandLine.c_str(), &count);
        for (int i = 1; argv != nullptr && i < count; ++i) {
            record.arguments.emplace_back(argv[i]);
        }
        LocalFree(argv);
        return record;
    }

    // Runs Elevix with the given text after its own name; expects it to end in time.
    DWORD runElevix(const std::wstring& arguments, bool* showedWindow = nullptr,
                    HANDLE token = nullptr) {
        auto elevix = ChildProcess::start(inQuotes(elevixPath()) + L" " + arguments, token);
        EXPECT_TRUE(elevix.has_value()) << "cannot start " << testing::PrintToString(elevixPath());
        if (!elevix) {
            return 0xFFFFFFFF;
        }
        // Watch for any window of the launcher's own while it runs.
        const ULONGLONG deadline = GetTickCount64() + kExitTimeoutMs;
        std::optional<DWORD> code;
        while (!(code = elevix->waitForExit(20)) && GetTickCount64() < deadline) {
            if (showedWindow != nullptr && !elevix->visibleWindows().empty()) {
                *showedWindow = true;
            }
        }
        EXPECT_TRUE(code.has_value()) << "Elevix did not end";
        return code.value_or(0xFFFFFFFF);
    }

    std::wstring m_recordPath;
};

BOOL CALLBACK collectStaticText(HWND child, LPARAM param) {
    wchar_t name[32];
    GetClassNameW(child, name, 32);
    if (lstrcmpiW(name, L"Static") == 0) {
        wchar_t text[256];
        const int length = GetWindowTextW(child, text, 256);
        reinterpret_cast<std::vector<std::wstring>*>(param)->emplace_back(text, length);
    }
    return TRUE;
}

std::vector<std::wstring> staticTexts(HWND dialog) {
    std::vector<std::wstring> texts;
    EnumChildWindows(dialog, collectStaticText, reinterpret_cast<LPARAM>(&texts));
    return texts;
}

TEST_F(ElevixProgram, AloneShowsUsageBoxAndExitsWithOne) {
    auto elevix = ChildProcess::start(inQuotes(elevixPath()));
    ASSERT_TRUE(elevix.has_value());
    HWND box = elevix->waitForWindow(L"Elevix", 15000);
    ASSERT_NE(box, nullptr) << "no window titled Elevix";
    EXPECT_FALSE(elevix->waitForExit(0).has_value()) << "the box must hold the launcher";

    const std::vector<std::wstring> texts = staticTexts(box);
    EXPECT_NE(std::find(texts.begin(), texts.end(), L"Usage:\nelevix.exe <exe-name> <exe-args>"),
              texts.end());
    // One button, OK, and no owner window.
    EXPECT_NE(GetDlgItem(box, IDOK), nullptr);
    EXPECT_EQ(GetDlgItem(box, IDCANCEL), nullptr);
    EXPECT_EQ(GetWindow(box, GW_OWNER), nullptr);

    PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK)));
    EXPECT_EQ(elevix->waitForExit(kExitTimeoutMs), std::optional<DWORD>(1));
}

TEST_F(ElevixProgram, PassesArgumentsAsParameterTextAndAsksForHiddenStart) {
    EXPECT_EQ(runElevix(inQuotes(probePath()) + L" a b"), 0u);
    const ProbeRecord record = readRecord();
    ASSERT_TRUE(record.present) << "the probe did not run";
    EXPECT_EQ(record.arguments, (std::vector<std::wstring>{L"a", L"b"}));
    EXPECT_EQ(record.commandLine.substr(record.commandLine.size() - 4), L" a b")
        << testing::PrintToString(record.commandLine);
    EXPECT_TRUE(record.startupFlags & STARTF_USESHOWWINDOW);
    EXPECT_EQ(record.showCommand, static_cast<unsigned>(SW_HIDE));
}

TEST_F(ElevixProgram, QuotedArgumentWithSpaceArrivesAsTwoWords) {
    EXPECT_EQ(runElevix(inQuotes(probePath()) + L" \"x y\" z"), 0u);
    const ProbeRecord record = readRecord();
    ASSERT_TRUE(record.present) << "the probe did not run";
    EXPECT_EQ(record.arguments, (std::vector<std::wstring>{L"x", L"y", L"z"}));
}

TEST_F(ElevixProgram, WaitsForTheProgramAndExitsZeroWhateverItsExitCode) {
    for (const int probeExit : {0, 1, 42}) {
        SCOPED_TRACE(probeExit);
        DeleteFileW(m_recordPath.c_str());
        setProbe(probeExit, 1500);
        const ULONGLONG started = GetTickCount64();
        EXPECT_EQ(runElevix(inQuotes(probePath())), 0u);
        // The probe writes its record only after its delay, just before it ends.
        EXPECT_GE(GetTickCount64() - started, 1500u);
        const ProbeRecord record = readRecord();
        EXPECT_TRUE(record.present) << "Elevix ended before the program it started";
        EXPECT_TRUE(record.arguments.empty());
    }
}

TEST_F(ElevixProgram, UnknownProgramExitsWithOneAndShowsNothing) {
    bool showedWindow = false;
    EXPECT_EQ(runElevix(L"zephra-no-such-program-7c1e.exe a b", &showedWindow), 1u);
    EXPECT_FALSE(showedWindow);
}

TEST_F(ElevixProgram, OverlongProgramNameFailsCleanly) {
    // Longer than a path may be: once this made the parameter buffer's size negative.
    bool showedWindow = false;
    const std::wstring name = std::wstring(296, L'n') + L".exe";
    ASSERT_EQ(name.size(), 300u);
    EXPECT_EQ(runElevix(name + L" a b", &showedWindow), 1u);
    EXPECT_EQ(runElevix(inQuotes(std::wstring(L"C:\\") + std::wstring(297, L'd')), &showedWindow),
              1u);
    EXPECT_FALSE(showedWindow);
}

TEST_F(ElevixProgram, LongArgumentListArrivesWhole) {
    // Far beyond the 260 characters the parameters once had to fit into, yet well
    // inside the 32,767 characters of a Windows command line.
    std::vector<std::wstring> expected;
    std::wstring arguments;
    for (int i = 0; i < 2000; ++i) {
        expected.push_back(L"w" + std::to_wstring(i));
    }
    expected.push_back(std::wstring(6000, L'L'));
    for (const std::wstring& argument : expected) {
        arguments += L" " + argument;
    }
    ASSERT_GT(arguments.size(), 15000u);
    EXPECT_EQ(runElevix(inQuotes(probePath()) + arguments), 0u);
    const ProbeRecord record = readRecord();
    ASSERT_TRUE(record.present) << "the probe did not run";
    EXPECT_EQ(record.arguments.size(), expected.size());
    EXPECT_TRUE(record.arguments == expected) << "the parameter text was changed on the way";
}

// The verb that the shell was given shows through a document type of the test's own,
// whose "open" and "runas" commands start the probe with different first arguments.
// A filtered copy of the test's token, holding Administrators for deny only, is the
// standard user; the test's own token is the elevated administrator when it holds
// the group (as root under Wine it does).
class ElevixVerb : public ElevixProgram {
  protected:
    void SetUp() override {
        ElevixProgram::SetUp();
        m_document = m_recordPath + L".elevixverb";
        HANDLE file =
            CreateFileW(m_document.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        CloseHandle(file);
        ASSERT_TRUE(setValue(L".elevixverb", L"ElevixVerbProbe"));
        for (const wchar_t* verb : {L"open", L"runas"}) {
            ASSERT_TRUE(setValue(std::wstring(L"ElevixVerbProbe\\shell\\") + verb + L"\\command",
                                 inQuotes(probePath()) + L" " + verb + L" \"%1\""));
        }
    }
    void TearDown() override {
        RegDeleteTreeW(HKEY_CLASSES_ROOT, L".elevixverb");
        RegDeleteTreeW(HKEY_CLASSES_ROOT, L"ElevixVerbProbe");
        DeleteFileW(m_document.c_str());
        ElevixProgram::TearDown();
    }

    // Wine's shell reads document types from the machine's classes only, not from the
    // user's; the prefix is the test run's own.
    static bool setValue(const std::wstring& key, const std::wstring& value) {
        return RegSetKeyValueW(HKEY_CLASSES_ROOT, key.c_str(), nullptr, REG_SZ, value.c_str(),
                               static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) ==
               ERROR_SUCCESS;
    }

    // The verb the probe was started with, or empty when it did not run.
    std::wstring verbUsed(HANDLE token) {
        DeleteFileW(m_recordPath.c_str());
        EXPECT_EQ(runElevix(inQuotes(m_document), nullptr, token), 0u);
        const ProbeRecord record = readRecord();
        return record.arguments.empty() ? std::wstring() : record.arguments.front();
    }

    std::wstring m_document;
};

bool runningUnderWine() {
    return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

TEST_F(ElevixVerb, AdministratorOpensAndFilteredTokenAsksToRunAs) {
    if (!runningUnderWine()) {
        GTEST_SKIP() << "on Windows the runas verb shows a real elevation prompt";
    }
    if (elevix::checkAdministratorsMembership() == elevix::AdminMembership::Member) {
        EXPECT_EQ(verbUsed(nullptr), L"open");
    }

    HANDLE ownToken = nullptr;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, &ownToken));
    platform::UniqueHandle own(ownToken);
    unsigned char administrators[SECURITY_MAX_SID_SIZE];
    DWORD sidSize = sizeof(administrators);
    ASSERT_TRUE(CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &sidSize));
    SID_AND_ATTRIBUTES denyOnly{administrators, 0};
    HANDLE filteredToken = nullptr;
    ASSERT_TRUE(
        CreateRestrictedToken(own.get(), 0, 1, &denyOnly, 0, nullptr, 0, nullptr, &filteredToken));
    platform::UniqueHandle filtered(filteredToken);
    EXPECT_EQ(verbUsed(filtered.get()), L"runas");
}

// The launcher must never ask for elevation for itself, and must not open a console.
TEST(ElevixImage, IsGuiProgramWithAsInvokerManifest) {
    HMODULE image = LoadLibraryExW(elevixPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(image, nullptr);
    HRSRC resource = FindResourceW(image, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
    ASSERT_NE(resource, nullptr) << "no manifest resource";
    const auto* bytes = static_cast<const char*>(LockResource(LoadResource(image, resource)));
    const std::string manifest(bytes, SizeofResource(image, resource));
    FreeLibrary(image);
    EXPECT_NE(manifest.find("requestedExecutionLevel level=\"asInvoker\""), std::string::npos);

    HANDLE file = CreateFileW(elevixPath().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    std::vector<unsigned char> head(4096);
    DWORD read = 0;
    ReadFile(file, head.data(), static_cast<DWORD>(head.size()), &read, nullptr);
    CloseHandle(file);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(head.data());
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(head.data() + dos->e_lfanew);
    EXPECT_EQ(nt->OptionalHeader.Subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI);
}

}  // namespace
