#include "launchers/elevix/verb.h"

namespace elevix {

const wchar_t* verbFor(AdminMembership membership) {
    return membership == AdminMembership::Member ? L"open" : L"runas";
}

}  // namespace elevix
