#include "session/log_buffer.h"

#include <cstdio>
#include <cstring>
#include <new>

namespace session {

void formatElapsed(char* out, uint32_t elapsedMs) noexcept {
    uint32_t seconds = (elapsedMs / 1000u) % 10000u;
    uint32_t millis = elapsedMs % 1000u;
    for (int i = 3; i >= 0; --i) {
        out[i] = static_cast<char>('0' + seconds % 10u);
        seconds /= 10u;
    }
    out[4] = '.';
    for (int i = 7; i >= 5; --i) {
        out[i] = static_cast<char>('0' + millis % 10u);
        millis /= 10u;
    }
}

bool LogBuffer::init() noexcept {
    m_data.reset(new (std::nothrow) char[kStep]());
    if (!m_data) {
        return false;
    }
    m_capacity = kStep;
    m_used = 0;
    m_readPos = 0;
    return true;
}

void LogBuffer::empty() noexcept {
    std::memset(m_data.get(), 0, m_used);
    m_used = 0;
    m_readPos = 0;
}

bool LogBuffer::grow(uint32_t minFree, uint32_t maxCapacity) noexcept {
    uint64_t wanted = m_capacity;
    while (wanted - m_used < minFree) {
        wanted += kStep;
    }
    if (wanted > maxCapacity) {
        return false;
    }
    const auto capacity = static_cast<uint32_t>(wanted);
    std::unique_ptr<char[]> bigger(new (std::nothrow) char[capacity]());
    if (!bigger) {
        return false;
    }
    std::memcpy(bigger.get(), m_data.get(), m_used);
    m_data = std::move(bigger);
    m_capacity = capacity;
    return true;
}

bool LogBuffer::append(int32_t level, uint32_t elapsedMs, const char* format, va_list args,
                       uint32_t maxCapacity) noexcept {
    if (m_capacity - m_used < kHeaderBytes && !grow(kHeaderBytes, maxCapacity)) {
        return false;
    }
    const uint32_t start = m_used;
    const uint32_t messageStart = start + kHeaderBytes;
    uint32_t messageBytes = 0;
    for (;;) {
        va_list copy;
        va_copy(copy, args);
        const int n = std::vsnprintf(m_data.get() + messageStart, m_capacity - messageStart,
                                     format, copy);
        va_end(copy);
        if (n < 0 || static_cast<uint64_t>(n) + kHeaderBytes + 1 > UINT32_MAX - start) {
            return false;
        }
        messageBytes = static_cast<uint32_t>(n) + 1;
        if (messageBytes <= m_capacity - messageStart) {
            break;
        }
        // Grow by whole steps until the message and its NUL fit, then format again.
        if (!grow(kHeaderBytes + messageBytes, maxCapacity)) {
            // Whatever the failed attempt wrote lies beyond `used`; the buffer's
            // entries are untouched.
            return false;
        }
    }
    char* entry = m_data.get() + start;
    const uint32_t length = kHeaderBytes + messageBytes;
    std::memcpy(entry, &length, 4);
    std::memcpy(entry + 4, &level, 4);
    formatElapsed(entry + kTextOffset, elapsedMs);
    entry[16] = ' ';
    m_used = start + length;
    return true;
}

const LogWalkEntry* LogBuffer::next() noexcept {
    if (m_readPos >= m_used) {
        return nullptr;
    }
    const char* entry = m_data.get() + m_readPos;
    uint32_t length = 0;
    int32_t level = 0;
    std::memcpy(&length, entry, 4);
    std::memcpy(&level, entry + 4, 4);
    m_entry.level = level;
    m_entry.text = entry + kTextOffset;
    m_entry.length = length;
    m_readPos += length;
    return &m_entry;
}

}  // namespace session
