#include "engine/tests/session_log.h"

#include <cstdlib>
#include <stdexcept>

namespace tallix::testing {

namespace {

template <typename F>
void resolve(const platform::DynamicLibrary& library, const char* name, F& slot) {
    void* address = library.symbol(name);
    if (address == nullptr) {
        throw std::runtime_error(std::string("session library lacks ") + name);
    }
    slot = reinterpret_cast<F>(address);
}

}  // namespace

SessionLog::SessionLog() {
    std::string error;
    m_library = platform::DynamicLibrary::open(QEL_LIBRARY_PATH, &error);
    if (!m_library) {
        throw std::runtime_error("cannot load " + std::string(QEL_LIBRARY_PATH) + ": " + error);
    }
    resolve(m_library, "LogManager_createLogManager", m_api.createLogManager);
    resolve(m_library, "LogManager_freeLogManager", m_api.freeLogManager);
    resolve(m_library, "LogManager_setLogLevel", m_api.setLogLevel);
    resolve(m_library, "LogManager_vlog", m_api.vlog);
    resolve(m_library, "LogManager_logWalk", m_api.logWalk);
    m_manager = m_api.createLogManager();
    m_api.setLogLevel(m_manager, kFinest);
    m_log.attach(&m_api, m_manager);
}

SessionLog::~SessionLog() {
    m_log.attach(nullptr, nullptr);
    m_api.freeLogManager(m_manager);
}

std::vector<std::string> SessionLog::take() {
    std::vector<std::string> lines;
    // A walk ends at null; what was logged meanwhile comes in the next walk.
    for (int walk = 0; walk < 2; ++walk) {
        while (const LogWalkEntry* entry = m_api.logWalk(m_manager)) {
            std::string text = entry->text;
            const size_t space = text.find(' ');
            lines.push_back(std::to_string(entry->level) + "|" +
                            (space == std::string::npos ? text : text.substr(space + 1)));
        }
    }
    m_seen.insert(m_seen.end(), lines.begin(), lines.end());
    return lines;
}

bool SessionLog::contains(const std::string& needle) {
    take();
    for (const std::string& line : m_seen) {
        if (line.find(needle) != std::string::npos) {
            return true;
        }
    }
    return false;
}

}  // namespace tallix::testing
