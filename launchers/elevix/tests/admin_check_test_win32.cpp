// The real membership check, compared with the token's own group list.
#include "launchers/elevix/admin_check.h"

#include <windows.h>

#include <shlobj.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#include "platform/win32_handle.h"

namespace {

// Reads the process token's groups directly: the Administrators group counts only
// when it is enabled and not held for deny only (a filtered administrator token).
bool tokenHoldsEnabledAdministrators() {
    HANDLE raw = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw)) {
        ADD_FAILURE() << "OpenProcessToken " << GetLastError();
        return false;
    }
    platform::UniqueHandle token(raw);
    DWORD size = 0;
    GetTokenInformation(token.get(), TokenGroups, nullptr, 0, &size);
    std::vector<unsigned char> buffer(size);
    if (!GetTokenInformation(token.get(), TokenGroups, buffer.data(), size, &size)) {
        ADD_FAILURE() << "GetTokenInformation " << GetLastError();
        return false;
    }
    unsigned char administrators[SECURITY_MAX_SID_SIZE];
    DWORD sidSize = sizeof(administrators);
    CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &sidSize);
    const auto* groups = reinterpret_cast<const TOKEN_GROUPS*>(buffer.data());
    for (DWORD i = 0; i < groups->GroupCount; ++i) {
        const SID_AND_ATTRIBUTES& group = groups->Groups[i];
        if (EqualSid(group.Sid, administrators)) {
            return (group.Attributes & SE_GROUP_ENABLED) != 0 &&
                   (group.Attributes & SE_GROUP_USE_FOR_DENY_ONLY) == 0;
        }
    }
    return false;
}

TEST(AdministratorsMembership, AgreesWithTheTokenGroups) {
    const elevix::AdminMembership membership = elevix::checkAdministratorsMembership();
    ASSERT_NE(membership, elevix::AdminMembership::CheckFailed);
    EXPECT_EQ(membership == elevix::AdminMembership::Member, tokenHoldsEnabledAdministrators());
    // For the record of what this system reports (under Wine, as the user running it).
    std::printf("Administrators member: %s; IsUserAnAdmin: %d\n",
                membership == elevix::AdminMembership::Member ? "yes" : "no",
                static_cast<int>(IsUserAnAdmin()));
}

}  // namespace
