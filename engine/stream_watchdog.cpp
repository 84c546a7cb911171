#include "engine/stream_watchdog.h"

#include <algorithm>

#include "platform/clock.h"

namespace tallix {

void StreamWatchdog::check(uint32_t nowMs) noexcept {
    const CallStreamHealth health = m_streams.health();
    switch (health.state) {
        case CallStreamState::closed:
        case CallStreamState::restarting:
            m_watching = false;
            return;
        case CallStreamState::running: {
            if (!m_watching || health.generation != m_generation ||
                health.callbacks != m_callbacks) {
                m_watching = true;
                m_generation = health.generation;
                m_callbacks = health.callbacks;
                m_lastProgress = nowMs;
                m_attempts = 0;
            }
            const bool stalled = nowMs - m_lastProgress >= kStallMs;
            if (!health.finished && !stalled) {
                return;
            }
            const char* why =
                health.finished ? "the stream ended by itself" : "no audio callback for a second";
            if (m_streams.closeLost(health.generation, why)) {
                m_watching = false;
                reopen(nowMs);  // the device may be back already
            }
            return;
        }
        case CallStreamState::lost:
            if (m_attempts == 0 || platform::reached(nowMs, m_nextAttempt)) {
                reopen(nowMs);
            }
            return;
    }
}

void StreamWatchdog::reopen(uint32_t nowMs) noexcept {
    // The first failure has said why; the ones after it would only repeat that.
    (void)m_streams.reopenLost(m_attempts > 0);
    const uint32_t wait = m_attempts < 5 ? std::min(kRetryMs << m_attempts, kMaxRetryMs) : kMaxRetryMs;
    ++m_attempts;
    m_nextAttempt = nowMs + wait;
}

}  // namespace tallix
