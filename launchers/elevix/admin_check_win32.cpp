#include "launchers/elevix/admin_check.h"

#include <windows.h>

#include "platform/unique_resource.h"

namespace elevix {
namespace {

struct SidTraits {
    using Handle = PSID;
    static Handle empty() noexcept { return nullptr; }
    static void close(Handle sid) noexcept { FreeSid(sid); }
};
using UniqueSid = platform::UniqueResource<SidTraits>;

}  // namespace

AdminMembership checkAdministratorsMembership() {
    SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
    PSID raw = nullptr;
    if (!AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                  DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0, &raw)) {
        return AdminMembership::CheckFailed;
    }
    UniqueSid administrators(raw);
    BOOL member = FALSE;
    if (!CheckTokenMembership(nullptr, administrators.get(), &member)) {
        return AdminMembership::CheckFailed;
    }
    return member ? AdminMembership::Member : AdminMembership::NotMember;
}

}  // namespace elevix
