// The version resource of each shipped file, read back as Explorer's Details tab and
// installers read it: GetFileVersionInfoW, then VerQueryValueW for the fixed part, the
// translation and the strings of that translation. The files are the release's
// stripped ones (<build>/ship/files), the test runs in <build>/tests.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "zephra_version.h"

namespace {

struct Shipped {
    const wchar_t* path;
    const wchar_t* fileName;
    const wchar_t* internalName;
    const wchar_t* description;
    DWORD fileType;
};

const Shipped kShipped[] = {
    {L"..\\ship\\files\\tallix.dll", L"tallix.dll", L"tallix", L"Zephra voice engine", VFT_DLL},
    {L"..\\ship\\files\\native\\qel.dll", L"qel.dll", L"qel", L"Zephra voice session library",
     VFT_DLL},
    {L"..\\ship\\files\\Vistrel.dll", L"Vistrel.dll", L"Vistrel", L"Zephra window sharing helpers",
     VFT_DLL},
    {L"..\\ship\\files\\Taskelle.dll", L"Taskelle.dll", L"Taskelle", L"Zephra taskbar integration",
     VFT_DLL},
    {L"..\\ship\\files\\Hushlet.exe", L"Hushlet.exe", L"Hushlet", L"Zephra command relay", VFT_APP},
    {L"..\\ship\\files\\Elevix.exe", L"Elevix.exe", L"Elevix", L"Zephra elevation launcher",
     VFT_APP},
};

std::wstring widen(const char* text) {
    return std::wstring(text, text + std::char_traits<char>::length(text));
}

class VersionResource : public testing::TestWithParam<Shipped> {
  protected:
    void SetUp() override {
        const DWORD size = GetFileVersionInfoSizeW(GetParam().path, nullptr);
        ASSERT_NE(size, 0u) << "no version resource, error " << GetLastError();
        m_block.resize(size);
        ASSERT_TRUE(GetFileVersionInfoW(GetParam().path, 0, size, m_block.data()));
    }

    // A string of the resource's first translation, as VerQueryValueW finds it.
    std::wstring text(const wchar_t* name) {
        struct Translation {
            WORD language;
            WORD codePage;
        };
        Translation* translations = nullptr;
        UINT bytes = 0;
        if (!VerQueryValueW(m_block.data(), L"\\VarFileInfo\\Translation",
                            reinterpret_cast<void**>(&translations), &bytes) ||
            bytes < sizeof(Translation)) {
            return L"(no translation)";
        }
        wchar_t query[96];
        std::swprintf(query, 96, L"\\StringFileInfo\\%04x%04x\\%ls", translations[0].language,
                      translations[0].codePage, name);
        wchar_t* value = nullptr;
        UINT length = 0;
        if (!VerQueryValueW(m_block.data(), query, reinterpret_cast<void**>(&value), &length) ||
            value == nullptr) {
            return L"(missing)";
        }
        return value;
    }

    std::vector<unsigned char> m_block;
};

TEST_P(VersionResource, NamesTheFileAndTheProjectVersion) {
    const Shipped& file = GetParam();
    const std::wstring version = widen(ZEPHRA_VERSION_TEXT);
    EXPECT_EQ(text(L"FileVersion"), version);
    EXPECT_EQ(text(L"ProductVersion"), version);
    EXPECT_EQ(text(L"ProductName"), L"Zephra");
    EXPECT_EQ(text(L"FileDescription"), file.description);
    EXPECT_EQ(text(L"InternalName"), file.internalName);
    EXPECT_EQ(text(L"OriginalFilename"), file.fileName);
}

TEST_P(VersionResource, FixedPartCarriesTheSameNumbers) {
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT bytes = 0;
    ASSERT_TRUE(VerQueryValueW(m_block.data(), L"\\", reinterpret_cast<void**>(&fixed), &bytes));
    ASSERT_GE(bytes, sizeof(VS_FIXEDFILEINFO));
    EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(fixed->dwFileType, GetParam().fileType);
    unsigned major = 0, minor = 0, patch = 0;
    ASSERT_EQ(std::sscanf(ZEPHRA_VERSION_TEXT, "%u.%u.%u", &major, &minor, &patch), 3);
    EXPECT_EQ(fixed->dwFileVersionMS, (major << 16) | minor);
    EXPECT_EQ(fixed->dwFileVersionLS, patch << 16);
    EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);
    EXPECT_EQ(fixed->dwProductVersionLS, fixed->dwFileVersionLS);
}

std::string testName(const testing::TestParamInfo<Shipped>& info) {
    std::string name;
    for (const wchar_t* c = info.param.fileName; *c != L'\0'; ++c) {
        name += (*c == L'.') ? '_' : static_cast<char>(*c);
    }
    return name;
}

INSTANTIATE_TEST_SUITE_P(Shipped, VersionResource, testing::ValuesIn(kShipped), testName);

// The stripped libraries still load and run, and the session library reports the
// version that the resources carry.
TEST(StrippedLibraries, LoadAndReportTheirVersions) {
    HMODULE qel = LoadLibraryW(L"..\\ship\\files\\native\\qel.dll");
    ASSERT_NE(qel, nullptr) << "error " << GetLastError();
    using VersionText = const char* (*)();
    auto version =
        reinterpret_cast<VersionText>(reinterpret_cast<void*>(GetProcAddress(qel, "version")));
    ASSERT_NE(version, nullptr);
    EXPECT_STREQ(version(), ZEPHRA_VERSION_TEXT);

    HMODULE vistrel = LoadLibraryW(L"..\\ship\\files\\Vistrel.dll");
    ASSERT_NE(vistrel, nullptr) << "error " << GetLastError();
    using VersionNumber = int (*)();
    auto number = reinterpret_cast<VersionNumber>(
        reinterpret_cast<void*>(GetProcAddress(vistrel, "GetVersionNumber")));
    ASSERT_NE(number, nullptr);
    EXPECT_EQ(number(), ZEPHRA_WINDOW_HELPERS_INTERFACE);

    HMODULE tallix = LoadLibraryW(L"..\\ship\\files\\tallix.dll");
    EXPECT_NE(tallix, nullptr) << "error " << GetLastError();
}

}  // namespace
