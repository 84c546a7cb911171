#include "launchers/elevix/parameters.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::wstring join(const std::vector<const wchar_t*>& arguments) {
    return elevix::joinParameters(arguments);
}

TEST(JoinParameters, NoArgumentsGiveEmptyText) {
    EXPECT_EQ(join({}), L"");
}

TEST(JoinParameters, ArgumentsAreJoinedInOrderByOneSpaceWithoutQuotes) {
    EXPECT_EQ(join({L"a"}), L"a");
    EXPECT_EQ(join({L"a", L"b"}), L"a b");
    // An argument that held a space is not quoted again, so it arrives as two words.
    EXPECT_EQ(join({L"x y", L"z"}), L"x y z");
    // Empty arguments keep their separators; nothing is dropped or reordered.
    EXPECT_EQ(join({L"", L"a", L""}), L" a ");
    EXPECT_EQ(join({L"/c", L"\u00e9t\u00e9", L"\u65e5\u672c"}), L"/c \u00e9t\u00e9 \u65e5\u672c");
}

// The launcher once joined into a fixed buffer whose size depended on the program
// name: long argument lists were cut or overran it. Every length must come out whole.
TEST(JoinParameters, LongArgumentListsArePassedOnWhole) {
    std::vector<std::wstring> storage;
    for (int i = 0; i < 3000; ++i) {
        storage.push_back(L"arg" + std::to_wstring(i));
    }
    storage.push_back(std::wstring(40000, L'q'));
    std::vector<const wchar_t*> arguments;
    std::wstring expected;
    for (const std::wstring& s : storage) {
        arguments.push_back(s.c_str());
        expected += (expected.empty() ? L"" : L" ") + s;
    }
    const std::wstring text = join(arguments);
    EXPECT_EQ(text.size(), expected.size());
    EXPECT_EQ(text, expected);
}

}  // namespace
