// A single-producer single-consumer ring of samples, lock-free and preallocated: the
// audio callback writes into it without allocating, locking or touching a file, and
// another thread drains it.
//
// Threads: one producer thread calls writeAvailable/slot/commitWrite; one consumer at a
// time calls readAvailable/readSpan/commitRead (several threads may take turns as the
// consumer when something else, a mutex, orders them). allocate and clear must not
// overlap either side.
#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <new>
#include <span>

namespace session {

template <typename T>
class SampleRing {
public:
    SampleRing() = default;
    SampleRing(const SampleRing&) = delete;
    SampleRing& operator=(const SampleRing&) = delete;

    // Allocates room for `capacity` samples, a power of two; false when memory runs out.
    // Keeps an existing allocation of that size.
    [[nodiscard]] bool allocate(size_t capacity) noexcept {
        if (m_buffer && m_capacity == capacity) {
            return true;
        }
        m_buffer.reset(new (std::nothrow) T[capacity]);
        m_capacity = m_buffer ? capacity : 0;
        clear();
        return m_buffer != nullptr;
    }
    bool allocated() const noexcept { return m_buffer != nullptr; }
    size_t capacity() const noexcept { return m_capacity; }

    // Empties the ring. Neither side may run meanwhile.
    void clear() noexcept {
        m_read.store(0, std::memory_order_relaxed);
        m_write.store(0, std::memory_order_relaxed);
    }

    // Producer side: room left, the sample `offset` places past the write position, and
    // publishing `count` written samples to the consumer.
    size_t writeAvailable() const noexcept {
        return m_capacity - (m_write.load(std::memory_order_relaxed) -
                             m_read.load(std::memory_order_acquire));
    }
    T& slot(size_t offset) noexcept {
        return m_buffer[(m_write.load(std::memory_order_relaxed) + offset) & (m_capacity - 1)];
    }
    void commitWrite(size_t count) noexcept {
        m_write.store(m_write.load(std::memory_order_relaxed) + count, std::memory_order_release);
    }

    // Consumer side: samples ready, the longest contiguous run of them from the read
    // position, and handing `count` samples back to the producer.
    size_t readAvailable() const noexcept {
        return m_write.load(std::memory_order_acquire) - m_read.load(std::memory_order_relaxed);
    }
    std::span<const T> readSpan() const noexcept {
        const size_t ready = readAvailable();
        const size_t start = m_read.load(std::memory_order_relaxed) & (m_capacity - 1);
        const size_t run = ready < m_capacity - start ? ready : m_capacity - start;
        return {m_buffer.get() + start, run};
    }
    void commitRead(size_t count) noexcept {
        m_read.store(m_read.load(std::memory_order_relaxed) + count, std::memory_order_release);
    }

private:
    std::unique_ptr<T[]> m_buffer;
    size_t m_capacity = 0;
    // Running counts (never masked until used as an index); unsigned wrap is harmless
    // because only their difference matters.
    std::atomic<size_t> m_read{0};
    std::atomic<size_t> m_write{0};
};

}  // namespace session
