#include "engine/engine_log.h"

namespace tallix {

void EngineLog::attach(const SessionApi* api, QelLogManager* manager) noexcept {
    m_api.store(api, std::memory_order_release);
    m_manager.store(manager, std::memory_order_release);
}

void EngineLog::log(int level, const char* format, ...) noexcept {
    const SessionApi* api = m_api.load(std::memory_order_acquire);
    QelLogManager* manager = m_manager.load(std::memory_order_acquire);
    if (api == nullptr || manager == nullptr) {
        return;
    }
    va_list args;
    va_start(args, format);
    api->vlog(manager, level, format, args);
    va_end(args);
}

}  // namespace tallix
