#include "session/audio/packet_pool.h"

#include <cstddef>
#include <cstring>
#include <new>

namespace qel {

bool PacketPool::allocate() noexcept {
    if (!m_slots) {
        m_slots.reset(new (std::nothrow) Slot[kSlots]);
        if (!m_slots) {
            return false;
        }
    }
    reclaimAll();
    return true;
}

void PacketPool::reclaimAll() noexcept {
    if (!m_slots) {
        return;
    }
    for (int i = 0; i < kSlots; ++i) {
        m_slots[i].owner = this;
        m_slots[i].lent = false;
        // Handed out from the low end first, which keeps the slots in use together.
        m_free[i] = kSlots - 1 - i;
    }
    m_freeCount = kSlots;
}

char* PacketPool::take(const uint8_t* data, int length) noexcept {
    if (m_freeCount == 0 || length < 0 || length > kSlotBytes) {
        return nullptr;
    }
    Slot& slot = m_slots[m_free[--m_freeCount]];
    slot.lent = true;
    std::memcpy(slot.data, data, static_cast<size_t>(length));
    return slot.data;
}

void PacketPool::giveBack(void* data) noexcept {
    if (data == nullptr) {
        return;
    }
    auto* slot = reinterpret_cast<Slot*>(static_cast<char*>(data) - offsetof(Slot, data));
    if (!slot->lent) {
        return;
    }
    slot->lent = false;
    PacketPool& pool = *slot->owner;
    pool.m_free[pool.m_freeCount++] = static_cast<int>(slot - pool.m_slots.get());
}

}  // namespace qel
