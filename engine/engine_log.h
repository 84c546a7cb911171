// The engine's own log: messages go into a session-library log manager that the Java
// host drains. Nothing is ever written to a console.
#pragma once

#include <atomic>

#include "engine/session_api.h"
#include "session/format_check.h"
#include "session/log_level.h"

namespace tallix {

// The session library's levels, under the engine's shorter names.
using session::LogLevel;
inline constexpr LogLevel kSevere = session::kLogSevere;
inline constexpr LogLevel kWarning = session::kLogWarning;
inline constexpr LogLevel kInfo = session::kLogInfo;
inline constexpr LogLevel kFine = session::kLogFine;
inline constexpr LogLevel kFinest = session::kLogFinest;

// Threads: log() may run on any thread except the audio callback; attach() runs on the
// thread that initialises the engine. Messages logged before attach() are dropped.
class EngineLog {
  public:
    // Starts logging into `manager` through `api` (both outlive this log).
    void attach(const SessionApi* api, QelLogManager* manager) noexcept;

    QelLogManager* manager() const noexcept { return m_manager.load(std::memory_order_acquire); }
    const SessionApi* api() const noexcept { return m_api.load(std::memory_order_acquire); }

    void log(int level, const char* format, ...) noexcept QEL_PRINTF_FORMAT(3, 4);

    // While one exists, what the creating thread logs is dropped: for attempts repeated
    // every fraction of a second whose every failure would say the same. Other
    // threads log as before. Nests.
    class QuietScope {
      public:
        explicit QuietScope(bool quiet = true) noexcept;
        ~QuietScope();
        QuietScope(const QuietScope&) = delete;
        QuietScope& operator=(const QuietScope&) = delete;

      private:
        bool m_quiet;
    };

  private:
    std::atomic<const SessionApi*> m_api{nullptr};
    std::atomic<QelLogManager*> m_manager{nullptr};
};

}  // namespace tallix
