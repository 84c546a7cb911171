// Memory for the packets that wait in the jitter buffer, allocated once at set-up.
//
// The jitter buffer is given a destroy callback, so it keeps the data pointer it is
// handed instead of copying into a block of its own, hands that pointer back from its
// get, and passes every packet it discards (late, overflow, reset, destroy) to the
// callback. With this pool behind both, neither the receive step's put nor the audio
// thread's get reaches the heap.
//
// Threads: not synchronised. Every call (the callback included, which the jitter
// buffer makes from inside put, reset and destroy) happens under the path lock or
// while nothing else runs on the path.
#pragma once

#include <cstdint>
#include <memory>

namespace qel {

class PacketPool {
public:
    // The jitter buffer holds at most 200 packets and discards its oldest to take
    // another; a few more cover the packet the audio thread is decoding and the rare
    // one the put declined without telling (see AudioPath::queueFrame).
    static constexpr int kSlots = 208;
    // An Opus packet is at most 1,275 bytes; longer frames cannot be decoded anyway.
    static constexpr int kSlotBytes = 1276;

    PacketPool() = default;
    PacketPool(const PacketPool&) = delete;
    PacketPool& operator=(const PacketPool&) = delete;

    // Allocates the slots on first use and marks every one free. False when memory
    // runs out.
    [[nodiscard]] bool allocate() noexcept;
    bool allocated() const noexcept { return m_slots != nullptr; }

    // A free slot holding a copy of `length` bytes, or null when none is free or the
    // bytes do not fit.
    char* take(const uint8_t* data, int length) noexcept;

    // Gives a slot back to the pool it came from; a slot that is already free (or a
    // null pointer) is left alone. Its signature is the jitter buffer's destroy callback.
    static void giveBack(void* data) noexcept;

    // Every slot free again: only when nothing holds a slot any more (right after the
    // jitter buffer has been reset).
    void reclaimAll() noexcept;

    int freeCount() const noexcept { return m_freeCount; }

private:
    struct Slot {
        PacketPool* owner;
        bool lent;
        char data[kSlotBytes];
    };

    std::unique_ptr<Slot[]> m_slots;
    int m_free[kSlots] = {};
    int m_freeCount = 0;
};

}  // namespace qel
