// The engine's own log: messages go into a session-library log manager that the Java
// host drains. Nothing is ever written to a console.
#pragma once

#include <atomic>

#include "engine/session_api.h"

namespace tallix {

enum LogLevel : int { kSevere = 1, kWarning = 2, kInfo = 3, kFine = 4, kFinest = 5 };

// Threads: log() may run on any thread except the audio callback; attach() runs on the
// thread that initialises the engine. Messages logged before attach() are dropped.
class EngineLog {
  public:
    // Starts logging into `manager` through `api` (both outlive this log).
    void attach(const SessionApi* api, QelLogManager* manager) noexcept;

    QelLogManager* manager() const noexcept { return m_manager.load(std::memory_order_acquire); }
    const SessionApi* api() const noexcept { return m_api.load(std::memory_order_acquire); }

    void log(int level, const char* format, ...) noexcept __attribute__((format(printf, 3, 4)));

  private:
    std::atomic<const SessionApi*> m_api{nullptr};
    std::atomic<QelLogManager*> m_manager{nullptr};
};

}  // namespace tallix
