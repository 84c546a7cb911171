#include "engine/engine_log.h"

namespace tallix {

namespace {
thread_local int t_quiet = 0;
}  // namespace

EngineLog::QuietScope::QuietScope(bool quiet) noexcept : m_quiet(quiet) {
    t_quiet += m_quiet ? 1 : 0;
}

EngineLog::QuietScope::~QuietScope() {
    t_quiet -= m_quiet ? 1 : 0;
}

void EngineLog::attach(const SessionApi* api, QelLogManager* manager) noexcept {
    m_api.store(api, std::memory_order_release);
    m_manager.store(manager, std::memory_order_release);
}

void EngineLog::log(int level, const char* format, ...) noexcept {
    const SessionApi* api = m_api.load(std::memory_order_acquire);
    QelLogManager* manager = m_manager.load(std::memory_order_acquire);
    if (api == nullptr || manager == nullptr || t_quiet > 0) {
        return;
    }
    va_list args;
    va_start(args, format);
    api->vlog(manager, level, format, args);
    va_end(args);
}

}  // namespace tallix
