#include "tools/qelcall/qel_library.h"

namespace qelcall {

bool QelLibrary::load(const std::string& path, std::string& error) {
    std::string reason;
    m_library = platform::DynamicLibrary::open(path, &reason);
    if (!m_library) {
        error = "cannot load " + path + ": " + reason;
        return false;
    }
    std::string missing;
    if (!session::resolveEntryPoints(m_library, m_api, &missing)) {
        error = path + " lacks the entry point " + missing;
        return false;
    }
    return true;
}

}  // namespace qelcall
