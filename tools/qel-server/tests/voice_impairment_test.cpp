#include <gtest/gtest.h>

#include <vector>

#include "tools/qel-server/voice_impairment.h"

namespace qelserver {
namespace {

Outgoing numbered(uint8_t n, ConnId connection = 1) {
    Outgoing o;
    o.connection = connection;
    o.bytes = {n};
    return o;
}

std::vector<int> runPattern(const ImpairmentConfig& config, uint64_t seed, int count) {
    VoiceImpairment imp(config, seed);
    std::vector<int> arrived;
    for (int i = 0; i < count; ++i) {
        imp.submit(numbered(static_cast<uint8_t>(i)), 20u * i);
        std::vector<Outgoing> out;
        imp.release(20u * i, out);
        for (auto& o : out) {
            arrived.push_back(o.bytes[0]);
        }
    }
    std::vector<Outgoing> out;
    imp.release(UINT64_MAX, out);
    for (auto& o : out) {
        arrived.push_back(o.bytes[0]);
    }
    return arrived;
}

TEST(VoiceImpairment, NoImpairmentPassesEverythingAtOnceInOrder) {
    const std::vector<int> got = runPattern(ImpairmentConfig{}, 7, 200);
    ASSERT_EQ(got.size(), 200u);
    for (int i = 0; i < 200; ++i) {
        EXPECT_EQ(got[i], i % 256);
    }
}

TEST(VoiceImpairment, LossRateIsNearTheSettingAndRepeatsWithTheSeed) {
    ImpairmentConfig config;
    config.lossPercent = 10;
    VoiceImpairment imp(config, 42);
    for (int i = 0; i < 10000; ++i) {
        imp.submit(numbered(0), 0);
    }
    EXPECT_NEAR(static_cast<double>(imp.lost()), 1000.0, 150.0) << "seed 42";
    EXPECT_EQ(imp.lost() + imp.queued(), 10000u);

    config.jitterMs = 15;
    config.reorderPercent = 5;
    EXPECT_EQ(runPattern(config, 99, 250), runPattern(config, 99, 250));
    EXPECT_NE(runPattern(config, 99, 250), runPattern(config, 100, 250));
}

TEST(VoiceImpairment, JitterDelaysWithinItsBoundAndReleasesByDueTime) {
    ImpairmentConfig config;
    config.jitterMs = 40;
    VoiceImpairment imp(config, 5);
    for (int i = 0; i < 100; ++i) {
        imp.submit(numbered(static_cast<uint8_t>(i)), 1000);
    }
    std::vector<Outgoing> out;
    imp.release(999, out);
    EXPECT_TRUE(out.empty());
    imp.release(1040, out);
    EXPECT_EQ(out.size(), 100u);
    EXPECT_EQ(imp.nextDue(), UINT64_MAX);
}

TEST(VoiceImpairment, ReorderedPacketArrivesAfterTheNextOne) {
    ImpairmentConfig config;
    config.reorderPercent = 100;
    VoiceImpairment imp(config, 1);
    imp.submit(numbered(1), 0);
    EXPECT_EQ(imp.nextDue(), VoiceImpairment::kReorderHoldMs);
    std::vector<Outgoing> out;
    imp.release(20, out);
    EXPECT_TRUE(out.empty());
    imp.release(VoiceImpairment::kReorderHoldMs, out);
    EXPECT_EQ(out.size(), 1u);
    EXPECT_EQ(imp.reordered(), 1u);
}

// A packet every 20 ms from t = 1000 for 50 s: the stalls begin 20 s and 40 s after the
// first packet, and what was sent in each leaves at its end, in order, in one burst.
TEST(VoiceImpairment, StallHoldsEveryPacketUntilItsEndThenReleasesThemInOrder) {
    ImpairmentConfig config;
    config.stallMs = 100;
    config.stallEveryMs = 20000;
    config.jitterMs = 5;
    VoiceImpairment imp(config, 11);
    std::vector<std::pair<uint64_t, int>> arrived;  // (time, packet number)
    for (int i = 0; i <= 2500; ++i) {
        const uint64_t now = 1000 + 20u * i;
        imp.submit(numbered(static_cast<uint8_t>(i)), now);
        for (uint64_t ms = now; ms < now + 20; ++ms) {
            std::vector<Outgoing> out;
            imp.release(ms, out);
            for (auto& o : out) {
                arrived.emplace_back(ms, o.bytes[0]);
            }
        }
    }
    EXPECT_EQ(imp.stalled(), 10u);  // five packets in each of the two stalls
    for (const uint64_t end : {21100u, 41100u}) {
        // Nothing leaves inside the stall; the five packets sent in it leave together at
        // its end (with the one sent right then, if its jitter was 0).
        int atEnd = 0;
        int previous = -1;
        for (const auto& [t, n] : arrived) {
            if (t == end) {
                ++atEnd;
                if (previous >= 0) {
                    EXPECT_EQ(n, (previous + 1) % 256) << "in the order sent";
                }
                previous = n;
            } else if (t > end - 100 && t < end) {
                ADD_FAILURE() << "packet " << n << " left at " << t << " inside the stall";
            }
        }
        EXPECT_GE(atEnd, 5) << end;
    }
    // Outside the stalls the jitter alone holds a packet back.
    for (const auto& [t, n] : arrived) {
        if (t < 21000 || (t > 21100 && t < 41000)) {
            ASSERT_LE(t % 20, 5u) << "packet " << n << " at " << t;
        }
    }
}

TEST(VoiceImpairment, ForgetsTheQueuedPacketsOfAClosedConnection) {
    ImpairmentConfig config;
    config.jitterMs = 10;
    VoiceImpairment imp(config, 3);
    imp.submit(numbered(1, 1), 0);
    imp.submit(numbered(2, 2), 0);
    imp.forgetConnection(1);
    std::vector<Outgoing> out;
    imp.release(100, out);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].connection, 2u);
}

}  // namespace
}  // namespace qelserver
