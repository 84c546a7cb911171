#include <gtest/gtest.h>

#include "session/audio/sample_fifo.h"

namespace {

TEST(SampleFifo, RemovingFromTheFrontKeepsTheRestInOrder) {
    qel::SampleFifo f;
    ASSERT_TRUE(f.allocate());
    for (int i = 0; i < 1000; ++i) {
        f.writePosition()[0] = static_cast<int16_t>(i);
        f.append(1);
    }
    f.markDone(700);
    f.removeFront(640);
    EXPECT_EQ(f.count(), 360);
    EXPECT_EQ(f.done(), 60);
    EXPECT_EQ(f.data()[0], 640);
    EXPECT_EQ(f.data()[359], 999);

    f.removeFront(100);  // more than is done: done stops at zero
    EXPECT_EQ(f.done(), 0);
    EXPECT_EQ(f.count(), 260);
    f.removeFront(10000);  // more than is held: empties it
    EXPECT_EQ(f.count(), 0);
}

TEST(SampleFifo, SilenceAndRoomAddUp) {
    qel::SampleFifo f;
    ASSERT_TRUE(f.allocate());
    f.writePosition()[0] = 9;
    f.append(1);
    f.appendSilence(5);
    EXPECT_EQ(f.count(), 6);
    EXPECT_EQ(f.room(), qel::SampleFifo::kCapacity - 6);
    EXPECT_EQ(f.data()[5], 0);
    EXPECT_EQ(f.pending(), 6);
    f.release();
    EXPECT_FALSE(f.allocated());
    EXPECT_EQ(f.count(), 0);
}

}  // namespace
