// The Administrators group membership check (Windows only).
#pragma once

#include "launchers/elevix/verb.h"

namespace elevix {

// Asks CheckTokenMembership whether the caller's token (the thread's impersonation
// token, else the process token) holds the local Administrators group enabled. A
// filtered administrator token holds the group for deny only, so it is NotMember.
AdminMembership checkAdministratorsMembership();

}  // namespace elevix
