// JitterTrim against a model of the jitter buffer that holds `surplus` frames more than
// the arrivals need: every frame taken leaves that many packets waiting, and each drop
// takes one of them. Unless told otherwise, the buffer runs dry for five frames (a
// stall) soon after the call starts, as it does before a burst of late packets.
#include <gtest/gtest.h>

#include <vector>

#include "session/audio/jitter_trim.h"

namespace {

using qel::JitterTrim;
using Taken = JitterTrim::Taken;

constexpr int kSamples = 640;

struct Trimmed {
    std::vector<int> drops;  // the frame numbers dropped
    int surplusLeft = 0;
};

// `loud(i)`: whether frame i is speech (else silence); `taken(i)`: what the buffer
// gave for frame i.
template <typename Loud, typename Took>
Trimmed run(JitterTrim& trim, int frames, int surplus, Loud loud, Took taken) {
    std::vector<int16_t> speech(kSamples), silence(kSamples, 0);
    for (int i = 0; i < kSamples; ++i) {
        speech[static_cast<size_t>(i)] = static_cast<int16_t>(i % 2 ? 8000 : -8000);
    }
    Trimmed r;
    for (int i = 0; i < frames; ++i) {
        const Taken t = taken(i);
        if (trim.dropAfter(t, surplus, loud(i) ? speech.data() : silence.data(), kSamples)) {
            EXPECT_EQ(t, Taken::kPacket) << "frame " << i;
            --surplus;
            r.drops.push_back(i);
        }
    }
    r.surplusLeft = surplus;
    return r;
}

constexpr int kStallEnd = 15;
bool inStall(int i) {
    return i >= 10 && i < kStallEnd;
}
Taken stall(int i) {
    return inStall(i) ? Taken::kMissing : Taken::kPacket;
}
bool silent(int) {
    return false;
}

TEST(JitterTrim, GivesBackSurplusAFrameAtATimeInPausesAndNothingMore) {
    // Speech with a 200-ms pause every second: the five frames of surplus go in the
    // pauses, never two frames in a row, and no frame of speech is dropped.
    JitterTrim trim;
    auto talk = [](int i) { return i % 50 < 40; };
    const Trimmed r = run(trim, 500, 5, talk, stall);
    ASSERT_EQ(r.drops.size(), 5u);
    EXPECT_EQ(r.surplusLeft, 0);
    EXPECT_EQ(trim.dropped(), 5u);
    EXPECT_GE(r.drops.front(), kStallEnd + JitterTrim::kBlockFrames)
        << "surplus is seen for a while first";
    for (size_t k = 0; k < r.drops.size(); ++k) {
        EXPECT_FALSE(talk(r.drops[k])) << "frame " << r.drops[k] << " is speech";
        EXPECT_FALSE(talk(r.drops[k] - 1)) << "frame " << r.drops[k] << " is a pause's first";
        if (k > 0) {
            EXPECT_GT(r.drops[k] - r.drops[k - 1], JitterTrim::kGapFrames);
        }
    }
    EXPECT_LT(r.drops.back(), 250) << "within 5 s";

    // No surplus: nothing is dropped, however quiet. Surplus without a stall before it
    // is the buffer's own margin against jitter, and stays: after isolated gaps, after
    // the buffer's own insertions in a row (it grows), and after the wait for the first
    // packet. A stall so long that the buffer starts afresh is left to the buffer.
    JitterTrim idle;
    EXPECT_TRUE(run(idle, 500, 0, silent, stall).drops.empty());
    const std::vector<Taken (*)(int)> noStall = {
        [](int i) { return i % 100 < 2 ? Taken::kMissing : Taken::kPacket; },
        [](int i) {
            const bool growing = i >= 10 && i < 30;
            return !growing ? Taken::kPacket : i % 2 ? Taken::kMissing : Taken::kInserted;
        },
        [](int i) { return i < 5 ? Taken::kMissing : Taken::kPacket; },
        [](int i) { return i >= 10 && i < 35 ? Taken::kMissing : Taken::kPacket; }};
    for (size_t k = 0; k < noStall.size(); ++k) {
        JitterTrim steady;
        EXPECT_TRUE(run(steady, 2000, 2, silent, noStall[k]).drops.empty()) << "pattern " << k;
    }
}

TEST(JitterTrim, ForgetsSurplusWhenTheBufferComesUpShortAndWaitsLongForAPause) {
    // After a stall, a frame the buffer cannot deliver every 20 frames: the surplus it
    // reports is never seen over a whole block, so nothing goes.
    JitterTrim trim;
    const Trimmed shortOften = run(trim, 1000, 3, silent, [](int i) {
        return inStall(i) || i % 20 == 19 ? Taken::kMissing : Taken::kPacket;
    });
    EXPECT_TRUE(shortOften.drops.empty());

    // A far end that never pauses still gets its surplus back, one frame after each
    // long wait for a pause.
    trim.reset();
    const Trimmed talking = run(
        trim, 1000, 2, [](int) { return true; }, stall);
    ASSERT_EQ(talking.drops.size(), 2u);
    // Surplus is known from the last frame of the first block after the stall.
    EXPECT_GE(talking.drops[0],
              kStallEnd + JitterTrim::kBlockFrames - 1 + JitterTrim::kPatienceFrames);
    EXPECT_GE(talking.drops[1] - talking.drops[0], JitterTrim::kPatienceFrames);

    // Short right after every drop (a packet late by the frame the drop took): each
    // time, surplus must be seen twice as long before the next drop, and after
    // kRetreats lessons the buffer's surplus (its margin against jitter) stays.
    trim.reset();
    uint32_t seen = 0;
    const Trimmed lessons = run(trim, 500, 8, silent, [&](int i) {
        const bool afterDrop = trim.dropped() > seen;
        seen = trim.dropped();
        return inStall(i) ? Taken::kMissing : afterDrop ? Taken::kInserted : Taken::kPacket;
    });
    ASSERT_EQ(lessons.drops.size(), static_cast<size_t>(JitterTrim::kRetreats + 1));
    for (size_t k = 1; k < lessons.drops.size(); ++k) {
        EXPECT_GE(lessons.drops[k] - lessons.drops[k - 1], JitterTrim::kBlockFrames << k);
    }
}

}  // namespace
