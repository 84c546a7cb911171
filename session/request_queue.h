// The eight request slots of a session client: a free list and a first-in-first-out
// queue of packets waiting to be handed to the caller. Requests take a slot and never
// allocate; when all eight are in use a request fails.
//
// Not synchronised: the client lock guards every call.
#pragma once

#include <cstdint>

#include "session/packet.h"

namespace session {

struct sReq {
    sReq* next = nullptr;  // free list or queue
    uint8_t queued = 0;    // keeps a slot from being appended twice
    PacketBuilder packet;
};

class RequestQueue {
public:
    static constexpr int kSlots = 8;

    RequestQueue() noexcept { reset(); }
    RequestQueue(const RequestQueue&) = delete;
    RequestQueue& operator=(const RequestQueue&) = delete;

    // Zeroes every slot, links all of them into the free list in block order (the first
    // slot is the head) and empties the queue.
    void reset() noexcept;

    // Removes the free list's head, or null when every slot is in use.
    sReq* take() noexcept;
    // Appends the slot to the queue unless it is queued already.
    void enqueue(sReq* slot) noexcept;
    // The queue's head, or null.
    sReq* front() const noexcept { return m_head; }
    // Removes the queue's head (null when empty); hand it back with recycle once sent.
    sReq* pop() noexcept;
    // Returns a slot that is in neither list to the free list's head.
    void recycle(sReq* slot) noexcept;

    // The first queued slot, from the head, whose packet has this type; null if none.
    sReq* findQueued(uint8_t type) const noexcept;

    int queuedCount() const noexcept;
    int freeCount() const noexcept;

private:
    sReq m_slots[kSlots];
    sReq* m_free = nullptr;
    sReq* m_head = nullptr;
    sReq* m_tail = nullptr;
};

}  // namespace session
