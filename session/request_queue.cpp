#include "session/request_queue.h"

namespace session {

namespace {

int lengthOf(const sReq* slot) noexcept {
    int n = 0;
    for (; slot != nullptr; slot = slot->next) {
        ++n;
    }
    return n;
}

}  // namespace

void RequestQueue::reset() noexcept {
    for (int i = 0; i < kSlots; ++i) {
        m_slots[i] = sReq{};
        m_slots[i].next = (i + 1 < kSlots) ? &m_slots[i + 1] : nullptr;
    }
    m_free = &m_slots[0];
    m_head = nullptr;
    m_tail = nullptr;
}

sReq* RequestQueue::take() noexcept {
    sReq* slot = m_free;
    if (slot != nullptr) {
        m_free = slot->next;
        slot->next = nullptr;
        slot->queued = 0;
    }
    return slot;
}

void RequestQueue::enqueue(sReq* slot) noexcept {
    if (slot->queued) {
        return;
    }
    slot->next = nullptr;
    slot->queued = 1;
    if (m_tail != nullptr) {
        m_tail->next = slot;
    } else {
        m_head = slot;
    }
    m_tail = slot;
}

sReq* RequestQueue::pop() noexcept {
    sReq* slot = m_head;
    if (slot != nullptr) {
        m_head = slot->next;
        if (m_head == nullptr) {
            m_tail = nullptr;
        }
        slot->next = nullptr;
        slot->queued = 0;
    }
    return slot;
}

void RequestQueue::recycle(sReq* slot) noexcept {
    slot->queued = 0;
    slot->next = m_free;
    m_free = slot;
}

sReq* RequestQueue::findQueued(uint8_t type) const noexcept {
    for (sReq* slot = m_head; slot != nullptr; slot = slot->next) {
        if (slot->packet.type() == type) {
            return slot;
        }
    }
    return nullptr;
}

int RequestQueue::queuedCount() const noexcept { return lengthOf(m_head); }
int RequestQueue::freeCount() const noexcept { return lengthOf(m_free); }

}  // namespace session
