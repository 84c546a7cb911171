#include "engine/session_api.h"

namespace tallix {

std::string defaultSessionLibraryPath() {
#ifdef _WIN32
    // Relative, so LoadLibraryW's standard search order resolves it.
    return "native\\" + platform::sharedLibraryFileName("qel");
#else
    return "native/" + platform::sharedLibraryFileName("qel");
#endif
}

std::string sessionLibraryPath() {
    const std::string besideEngine =
        platform::besideThisModule("native/" + platform::sharedLibraryFileName("qel"));
    if (!besideEngine.empty() && platform::isFile(besideEngine)) {
        return besideEngine;
    }
    return defaultSessionLibraryPath();
}

QelClient* SessionBinding::bind(const std::string& path) {
    if (!m_bound) {
        platform::DynamicLibrary library = platform::DynamicLibrary::open(path);
        if (!library) {
            return nullptr;
        }
        SessionApi api;
        if (!session::resolveEntryPoints(library, api)) {
            return nullptr;  // the incomplete library is unloaded here
        }
        m_api = api;
        // Never unloaded: the audio callback and the call thread of any engine may still
        // be inside it while the process ends.
        library.release();
        m_bound = true;
    }
    return m_api.getClient();
}

}  // namespace tallix
