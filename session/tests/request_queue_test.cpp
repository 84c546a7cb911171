#include <gtest/gtest.h>

#include "session/request_queue.h"

namespace session {
namespace {

TEST(RequestQueue, HandsOutEightSlotsThenNone) {
    RequestQueue q;
    sReq* slots[RequestQueue::kSlots];
    for (auto& s : slots) {
        s = q.take();
        ASSERT_NE(s, nullptr);
    }
    EXPECT_EQ(q.take(), nullptr);
    EXPECT_EQ(q.freeCount(), 0);
    // In block order: the first slot is the free list's head.
    for (int i = 1; i < RequestQueue::kSlots; ++i) {
        EXPECT_EQ(slots[i], slots[0] + i);
    }
    q.recycle(slots[3]);
    EXPECT_EQ(q.take(), slots[3]);
}

TEST(RequestQueue, IsFirstInFirstOutAndNeverQueuesASlotTwice) {
    RequestQueue q;
    sReq* a = q.take();
    sReq* b = q.take();
    initPacket(a->packet, 0, E_QELPT_UPDATE);
    initPacket(b->packet, 0, E_QELPT_COMMAND);
    q.enqueue(a);
    q.enqueue(b);
    q.enqueue(a);  // already queued: stays where it is
    EXPECT_EQ(q.queuedCount(), 2);
    EXPECT_EQ(q.findQueued(E_QELPT_COMMAND), b);
    EXPECT_EQ(q.findQueued(E_QELPT_PING), nullptr);
    EXPECT_EQ(q.pop(), a);
    EXPECT_EQ(q.findQueued(E_QELPT_UPDATE), nullptr);
    q.recycle(a);
    EXPECT_EQ(q.pop(), b);
    EXPECT_EQ(q.pop(), nullptr);
    q.recycle(b);
    EXPECT_EQ(q.freeCount(), RequestQueue::kSlots);

    sReq* c = q.take();
    q.enqueue(c);  // the queue works again after running empty
    EXPECT_EQ(q.front(), c);
    q.reset();
    EXPECT_EQ(q.front(), nullptr);
    EXPECT_EQ(q.freeCount(), RequestQueue::kSlots);
}

}  // namespace
}  // namespace session
