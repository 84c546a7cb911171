// The in-memory log of the session library: leveled, printf-formatted, timestamped
// messages in two buffers, so that a reader drains one snapshot while writers append to
// the other. Four repeat slots fold a message that recurs many times a second into one
// line and a "Repeated %d times: %s" summary.
//
// Threads: every method may be called from any thread, except that destruction must not
// overlap any other call. Locks (each a SpinLock, holder number 1): the repeat lock may
// be held while the write lock is taken, never the other way round. A writer that cannot
// get a lock within the SpinLock's tries drops its message (counted in droppedCount); a
// walk then returns null and carries on from the same place next time.
#pragma once

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <memory>

#include "platform/clock.h"
#include "platform/spin_lock.h"
#include "session/format_check.h"
#include "session/log_buffer.h"
#include "session/log_level.h"
#include "session/qel_api.h"

namespace session {

// Repeat slots and the message each one folds.
enum RepeatSlot : int {
    kRepeatNetworkUnderrun = 0,     // "Network underrun"
    kRepeatJitterInserted = 1,      // "Jitter buffer packet inserted"
    kRepeatPollAdjust = 2,          // "POLL(): Adjusting m_nexttick by %d"
    kRepeatPollWithoutWait = 3,     // "POLL(): Reached next tick without waiting, delta=%d"
};
constexpr int kRepeatSlotCount = 4;

class LogManager {
public:
    using Clock = uint32_t (*)() noexcept;

    struct Options {
        // The millisecond clock for elapsed times and the repeat window; tests pass
        // their own.
        Clock clock = &platform::nowMs;
        // A buffer never grows beyond this; a message that would need more is dropped.
        uint32_t maxBufferBytes = UINT32_MAX;
    };

    // Kept until the first setLevel: severe, warning and information messages, which
    // keep a log that nobody configures small but still tell what the session did.
    static constexpr int32_t kDefaultLevel = kLogInfo;
    static constexpr uint32_t kRepeatWindowMs = 1000;
    static constexpr uint32_t kRepeatTextBytes = 1024;

    // Null when memory runs out.
    static std::unique_ptr<LogManager> create() noexcept { return create(Options{}); }
    static std::unique_ptr<LogManager> create(const Options& options) noexcept;

    LogManager(const LogManager&) = delete;
    LogManager& operator=(const LogManager&) = delete;

    // Messages with a level from 1 to `level` are kept; 0 or less keeps nothing.
    void setLevel(int32_t level) noexcept { m_level.store(level, std::memory_order_relaxed); }
    int32_t level() const noexcept { return m_level.load(std::memory_order_relaxed); }

    // Formats and appends one message. Returns whether it was stored.
    bool log(int32_t level, const char* format, ...) noexcept QEL_PRINTF_FORMAT(3, 4);
    bool vlog(int32_t level, const char* format, va_list args) noexcept;

    // Logs through a repeat slot: within kRepeatWindowMs after an occurrence that was
    // logged, later ones are only counted; the count is logged as a summary by the first
    // occurrence after the window or by the next walk. Messages are cut to 1,023
    // characters.
    void logRepeated(int slot, int32_t level, const char* format, ...) noexcept
        QEL_PRINTF_FORMAT(4, 5);
    void vlogRepeated(int slot, int32_t level, const char* format, va_list args) noexcept;

    // The next entry of the snapshot being walked, or null when it is exhausted (the
    // next call starts a new snapshot). Valid until the next walk, clear or destruction.
    const LogWalkEntry* walk() noexcept;

    // Drops every entry and repeat count and restarts the elapsed-time clock; the level
    // stays.
    void clear() noexcept;

    // Messages dropped because a lock stayed busy or a buffer could not grow.
    uint32_t droppedCount() const noexcept { return m_dropped.load(std::memory_order_relaxed); }

private:
    struct Repeat {
        uint32_t first = 0;
        int32_t count = 0;  // 0: slot empty
        int32_t level = 0;
        char text[kRepeatTextBytes] = {};
    };

    explicit LogManager(const Options& options) noexcept : m_options(options) {}

    void drop() noexcept { m_dropped.fetch_add(1, std::memory_order_relaxed); }
    // Logs the slot's summary if it counted repeats, and empties it. Repeat lock held.
    void flushRepeat(Repeat& slot) noexcept;
    void emptyBuffers() noexcept;

    const Options m_options;
    platform::SpinLock m_writeLock;
    platform::SpinLock m_repeatLock;
    std::atomic<int32_t> m_level{kDefaultLevel};
    std::atomic<uint32_t> m_dropped{0};

    // Guarded by the write lock (m_started is also read without it, to skip the lock
    // for messages that the level filters out once the clock runs).
    std::atomic<bool> m_started{false};
    uint32_t m_startTime = 0;
    LogBuffer m_buffers[2];
    LogBuffer* m_writeBuffer = &m_buffers[0];
    LogBuffer* m_readBuffer = nullptr;

    // Guarded by the repeat lock.
    Repeat m_repeats[kRepeatSlotCount];
};

}  // namespace session
