#include "session/log_manager.h"

#include <cstdio>
#include <new>

namespace session {

namespace {

bool keeps(int32_t level, int32_t limit) noexcept { return level > 0 && level <= limit; }

constexpr int32_t kHolder = 1;

// Taken by operations that must not be skipped (clear): they wait as long as it takes.
void acquireUntilHeld(platform::SpinLock& lock) noexcept {
    while (!lock.acquire(kHolder).acquired) {
    }
}

}  // namespace

std::unique_ptr<LogManager> LogManager::create(const Options& options) noexcept {
    std::unique_ptr<LogManager> log(new (std::nothrow) LogManager(options));
    if (!log || !log->m_buffers[0].init() || !log->m_buffers[1].init()) {
        return nullptr;
    }
    return log;
}

bool LogManager::log(int32_t level, const char* format, ...) noexcept {
    va_list args;
    va_start(args, format);
    const bool stored = vlog(level, format, args);
    va_end(args);
    return stored;
}

bool LogManager::vlog(int32_t level, const char* format, va_list args) noexcept {
    // Filtered messages skip the lock, except before the clock runs: the first message
    // starts the elapsed-time clock even when it is not kept.
    if (!keeps(level, this->level()) && m_started.load(std::memory_order_acquire)) {
        return false;
    }
    platform::SpinGuard guard(m_writeLock, kHolder);
    if (!guard) {
        drop();
        return false;
    }
    const uint32_t now = m_options.clock();
    if (!m_started.load(std::memory_order_relaxed)) {
        m_startTime = now;
        emptyBuffers();
        m_started.store(true, std::memory_order_release);
    }
    if (!keeps(level, this->level())) {
        return false;
    }
    // Unsigned difference: right across a wrap of the 32-bit clock.
    if (!m_writeBuffer->append(level, now - m_startTime, format, args, m_options.maxBufferBytes)) {
        drop();
        return false;
    }
    return true;
}

void LogManager::flushRepeat(Repeat& slot) noexcept {
    if (slot.count > 1) {
        log(slot.level, "Repeated %d times: %s", slot.count, slot.text);
    }
    slot.first = 0;
    slot.count = 0;
}

void LogManager::logRepeated(int slot, int32_t level, const char* format, ...) noexcept {
    va_list args;
    va_start(args, format);
    vlogRepeated(slot, level, format, args);
    va_end(args);
}

void LogManager::vlogRepeated(int slot, int32_t level, const char* format, va_list args) noexcept {
    if (slot < 0 || slot >= kRepeatSlotCount) {
        // Not a folded message after all: log it as it is.
        vlog(level, format, args);
        return;
    }
    platform::SpinGuard guard(m_repeatLock, kHolder);
    if (!guard) {
        drop();
        return;
    }
    Repeat& repeat = m_repeats[slot];
    uint32_t now = m_options.clock();
    if (repeat.count > 0) {
        if (now - repeat.first <= kRepeatWindowMs) {
            ++repeat.count;
            return;
        }
        flushRepeat(repeat);
        now = m_options.clock();
    }
    repeat.first = now;
    repeat.count = 1;
    repeat.level = level;
    std::vsnprintf(repeat.text, sizeof repeat.text, format, args);
    log(level, "%s", repeat.text);
}

const LogWalkEntry* LogManager::walk() noexcept {
    {
        platform::SpinGuard guard(m_repeatLock, kHolder);
        if (guard) {
            const uint32_t now = m_options.clock();
            for (Repeat& repeat : m_repeats) {
                if (repeat.count > 1 && now - repeat.first > kRepeatWindowMs) {
                    flushRepeat(repeat);
                }
            }
        }
        // A busy repeat lock only delays the summaries to a later walk.
    }
    platform::SpinGuard guard(m_writeLock, kHolder);
    if (!guard) {
        // The snapshot stays where it is; the next walk carries on from there.
        return nullptr;
    }
    if (m_readBuffer == nullptr) {
        m_readBuffer = m_writeBuffer;
        m_writeBuffer = (m_writeBuffer == &m_buffers[0]) ? &m_buffers[1] : &m_buffers[0];
    }
    if (const LogWalkEntry* entry = m_readBuffer->next()) {
        return entry;
    }
    m_readBuffer->empty();
    m_readBuffer = nullptr;
    return nullptr;
}

void LogManager::emptyBuffers() noexcept {
    m_buffers[0].empty();
    m_buffers[1].empty();
}

void LogManager::clear() noexcept {
    // Lock order: repeat lock, then write lock.
    acquireUntilHeld(m_repeatLock);
    acquireUntilHeld(m_writeLock);
    emptyBuffers();
    for (Repeat& repeat : m_repeats) {
        repeat.first = 0;
        repeat.count = 0;
    }
    m_readBuffer = nullptr;
    m_writeBuffer = &m_buffers[0];
    m_started.store(false, std::memory_order_release);
    m_startTime = 0;
    m_writeLock.release(kHolder);
    m_repeatLock.release(kHolder);
}

}  // namespace session
