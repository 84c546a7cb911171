#include "launchers/elevix/verb.h"

#include <gtest/gtest.h>

#include <string_view>

namespace {

using elevix::AdminMembership;

TEST(VerbFor, ElevatedAdministratorOpensWithoutPrompt) {
    EXPECT_EQ(std::wstring_view(elevix::verbFor(AdminMembership::Member)), L"open");
}

TEST(VerbFor, EveryoneElseIsPromptedForElevation) {
    EXPECT_EQ(std::wstring_view(elevix::verbFor(AdminMembership::NotMember)), L"runas");
    // A check that could not be made must not skip the prompt.
    EXPECT_EQ(std::wstring_view(elevix::verbFor(AdminMembership::CheckFailed)), L"runas");
}

}  // namespace
