// Which shell verb starts the target program.
#pragma once

namespace elevix {

// The outcome of asking whether the current token is an enabled member of the local
// Administrators group.
enum class AdminMembership {
    Member,       // elevated administrator token
    NotMember,    // standard user, or a filtered administrator token
    CheckFailed,  // the group's SID could not be built or the check itself failed
};

// "open" for an elevated administrator, who needs no prompt; "runas" otherwise, so
// that Windows asks for elevation. When the membership is unknown the prompt is the
// safe choice: at worst the user confirms once more.
const wchar_t* verbFor(AdminMembership membership);

}  // namespace elevix
