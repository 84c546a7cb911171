#include <gtest/gtest.h>

#include "tools/qel-server/loss_counter.h"

namespace qelserver {
namespace {

TEST(LossCounter, CountsSkippedNumbersIncludingBeforeTheFirst) {
    LossCounter c;
    for (uint32_t seq : {2u, 3u, 4u, 7u, 8u}) {
        c.received(seq);
    }
    EXPECT_EQ(c.takeWindow(), 4u);  // 0, 1, 5, 6
    EXPECT_EQ(c.takeWindow(), 0u);
    EXPECT_EQ(c.total(), 4u);
    EXPECT_EQ(c.received(), 5u);
}

TEST(LossCounter, LatePacketIsTakenBackAndDuplicatesChangeNothing) {
    LossCounter c;
    c.received(0);
    c.received(2);  // 1 missing
    c.received(3);
    c.received(1);  // late, not lost after all
    c.received(1);  // duplicate
    c.received(3);  // duplicate
    EXPECT_EQ(c.total(), 0u);
    EXPECT_EQ(c.takeWindow(), 0u);
}

TEST(LossCounter, LatePacketFromAnEarlierWindowDoesNotMakeTheNewOneNegative) {
    LossCounter c;
    c.received(0);
    c.received(2);
    EXPECT_EQ(c.takeWindow(), 1u);
    c.received(1);
    EXPECT_EQ(c.takeWindow(), 0u);
    EXPECT_EQ(c.total(), 0u);
}

TEST(LossCounter, HugeJumpIsARestartNotLoss) {
    LossCounter c;
    c.received(0);
    c.received(LossCounter::kMaxGap + 10);
    c.received(LossCounter::kMaxGap + 11);
    EXPECT_EQ(c.total(), 0u);
    c.received(5);  // far behind: counting starts again from here
    c.received(7);
    EXPECT_EQ(c.total(), 1u);
}

TEST(LossCounter, SequenceWrapIsOrdinaryProgress) {
    LossCounter c;
    c.received(0xFFFFFF00u);  // far from the start: counting starts here
    for (uint32_t seq = 0xFFFFFF01u; seq != 0; ++seq) {
        c.received(seq);
    }
    c.received(1);  // 0 missing across the wrap
    EXPECT_EQ(c.total(), 1u);
    EXPECT_EQ(c.received(), 257u);
}

}  // namespace
}  // namespace qelserver
