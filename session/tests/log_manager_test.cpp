#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "session/log_manager.h"

namespace session {
namespace {

std::atomic<uint32_t> g_now{0};
uint32_t testClock() noexcept { return g_now.load(); }

struct Line {
    int32_t level;
    std::string text;  // with its "SSSS.mmm " stamp
    uint32_t length;
};

// Walks one snapshot: until the walk returns null.
std::vector<Line> walkSnapshot(LogManager& log) {
    std::vector<Line> lines;
    while (const LogWalkEntry* e = log.walk()) {
        lines.push_back({e->level, e->text, e->length});
    }
    return lines;
}

class LogManagerTest : public ::testing::Test {
protected:
    void SetUp() override { g_now = 50000; }
    std::unique_ptr<LogManager> make(uint32_t maxBytes = UINT32_MAX) {
        LogManager::Options options;
        options.clock = &testClock;
        options.maxBufferBytes = maxBytes;
        auto log = LogManager::create(options);
        EXPECT_NE(log, nullptr);
        return log;
    }
};

TEST_F(LogManagerTest, KeepsLevelsFromOneUpToItsOwn) {
    auto log = make();
    EXPECT_EQ(log->level(), 3);  // before any setLevel
    EXPECT_TRUE(log->log(3, "info"));
    EXPECT_FALSE(log->log(4, "fine"));
    log->setLevel(4);
    EXPECT_FALSE(log->log(5, "finest"));
    EXPECT_TRUE(log->log(4, "fine"));
    EXPECT_FALSE(log->log(0, "zero"));
    EXPECT_FALSE(log->log(-1, "negative"));
    log->setLevel(0);
    EXPECT_FALSE(log->log(1, "severe"));
    const auto lines = walkSnapshot(*log);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].text, "0000.000 info");
    EXPECT_EQ(lines[1].text, "0000.000 fine");
    EXPECT_EQ(lines[1].level, 4);
    EXPECT_EQ(log->droppedCount(), 0u);  // filtering is not dropping
}

TEST_F(LogManagerTest, StampsTheTimeSinceTheFirstMessage) {
    auto log = make();
    log->log(1, "start");
    g_now += 1234;
    log->log(2, "Connected %d", 7);
    g_now += 12345 - 1234;
    log->log(2, "later");
    const auto lines = walkSnapshot(*log);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1].text, "0001.234 Connected 7");
    EXPECT_EQ(lines[1].length, 17u + 11u + 1u);
    EXPECT_EQ(lines[2].text, "0012.345 later");
}

TEST_F(LogManagerTest, ElapsedSecondsWrapAfterTenThousandKeepingTheHeader) {
    auto log = make();
    log->log(1, "start");
    g_now += 12345678;  // 12,345.678 s
    log->log(1, "three hours on");
    g_now = 50000 - 1;  // the 32-bit clock wrapped: 2^32 - 1 ms after the start
    log->log(1, "wrapped");
    const auto lines = walkSnapshot(*log);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1].text, "2345.678 three hours on");
    EXPECT_EQ(lines[1].length, 17u + 14u + 1u);
    // 4,294,967.295 s -> 4967.295
    EXPECT_EQ(lines[2].text, "4967.295 wrapped");
}

TEST_F(LogManagerTest, TheFirstMessageStartsTheClockEvenWhenFiltered) {
    auto log = make();
    log->log(5, "filtered");
    g_now += 250;
    log->log(1, "kept");
    const auto lines = walkSnapshot(*log);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].text, "0000.250 kept");
}

TEST_F(LogManagerTest, AWalkOfAnEmptyLogReturnsNullEveryTime) {
    auto log = make();
    EXPECT_EQ(log->walk(), nullptr);
    EXPECT_EQ(log->walk(), nullptr);
}

TEST_F(LogManagerTest, MessagesLoggedDuringAWalkComeInTheNextCycle) {
    auto log = make();
    log->log(1, "a");
    log->log(1, "b");
    const LogWalkEntry* first = log->walk();
    ASSERT_NE(first, nullptr);
    EXPECT_STREQ(first->text, "0000.000 a");
    log->log(1, "c");  // goes to the other buffer
    const LogWalkEntry* second = log->walk();
    ASSERT_NE(second, nullptr);
    EXPECT_STREQ(second->text, "0000.000 b");
    log->log(1, "d");
    EXPECT_EQ(log->walk(), nullptr);
    const auto next = walkSnapshot(*log);
    ASSERT_EQ(next.size(), 2u);
    EXPECT_EQ(next[0].text, "0000.000 c");
    EXPECT_EQ(next[1].text, "0000.000 d");
    EXPECT_TRUE(walkSnapshot(*log).empty());
}

TEST_F(LogManagerTest, ClearDropsEverythingAndRestartsTheClock) {
    auto log = make();
    log->log(1, "old");
    log->logRepeated(kRepeatNetworkUnderrun, 4, "Network underrun");
    log->logRepeated(kRepeatNetworkUnderrun, 4, "Network underrun");
    ASSERT_NE(log->walk(), nullptr);  // mid-walk
    g_now += 5000;
    log->clear();
    g_now += 100;
    log->log(1, "new");
    g_now += 2000;
    const auto lines = walkSnapshot(*log);
    ASSERT_EQ(lines.size(), 1u);  // no summary: the repeat count was cleared
    EXPECT_EQ(lines[0].text, "0000.000 new");
}

TEST_F(LogManagerTest, RepeatsWithinOneSecondFoldIntoASummary) {
    auto log = make();
    log->setLevel(4);
    for (int i = 0; i < 5; ++i) {
        log->logRepeated(kRepeatNetworkUnderrun, 4, "Network underrun");
        g_now += 200;  // the fifth comes 800 ms after the first
    }
    g_now += 1;  // 1,001 ms after the first: the window is over
    auto lines = walkSnapshot(*log);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].text, "0000.000 Network underrun");
    EXPECT_EQ(lines[1].text, "0001.001 Repeated 5 times: Network underrun");
    EXPECT_EQ(lines[1].level, 4);
    g_now += 5000;
    EXPECT_TRUE(walkSnapshot(*log).empty());  // the summary is given once
}

TEST_F(LogManagerTest, AWalkInsideTheWindowLeavesTheCountForLater) {
    auto log = make();
    log->logRepeated(kRepeatPollAdjust, 2, "POLL(): Adjusting m_nexttick by %d", 20);
    g_now += 1000;  // the window includes its last millisecond
    log->logRepeated(kRepeatPollAdjust, 2, "POLL(): Adjusting m_nexttick by %d", 40);
    EXPECT_EQ(walkSnapshot(*log).size(), 1u);
    g_now += 1;
    const auto lines = walkSnapshot(*log);
    ASSERT_EQ(lines.size(), 1u);
    // The summary repeats the first occurrence's text.
    EXPECT_EQ(lines[0].text, "0001.001 Repeated 2 times: POLL(): Adjusting m_nexttick by 20");
}

TEST_F(LogManagerTest, AnOccurrenceAfterTheWindowLogsTheSummaryThenItself) {
    auto log = make();
    log->logRepeated(kRepeatJitterInserted, 3, "Jitter buffer packet inserted");
    log->logRepeated(kRepeatJitterInserted, 3, "Jitter buffer packet inserted");
    log->logRepeated(kRepeatJitterInserted, 3, "Jitter buffer packet inserted");
    g_now += 1500;
    log->logRepeated(kRepeatJitterInserted, 3, "Jitter buffer packet inserted");
    g_now += 3000;
    log->logRepeated(kRepeatNetworkUnderrun, 3, "single");
    g_now += 3000;
    log->logRepeated(kRepeatNetworkUnderrun, 3, "single");
    g_now += 3000;
    const auto lines = walkSnapshot(*log);
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[0].text, "0000.000 Jitter buffer packet inserted");
    EXPECT_EQ(lines[1].text, "0001.500 Repeated 3 times: Jitter buffer packet inserted");
    EXPECT_EQ(lines[2].text, "0001.500 Jitter buffer packet inserted");
    // Occurrences more than a second apart are plain lines without a summary.
    EXPECT_EQ(lines[3].text, "0004.500 single");
    EXPECT_EQ(lines[4].text, "0007.500 single");
}

TEST_F(LogManagerTest, FoldedMessagesAreCutTo1023Characters) {
    auto log = make();
    const std::string longText(1500, 'x');
    log->logRepeated(kRepeatPollWithoutWait, 1, "%s", longText.c_str());
    const auto lines = walkSnapshot(*log);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].text.size(), 9u + 1023u);
}

TEST_F(LogManagerTest, ALongMessageGrowsTheBufferAndIsStoredWhole) {
    auto log = make();
    log->log(1, "first");
    const std::string big(100000, 'y');
    EXPECT_TRUE(log->log(1, "%s", big.c_str()));
    log->log(1, "last");
    const auto lines = walkSnapshot(*log);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1].text, "0000.000 " + big);
    EXPECT_EQ(lines[1].length, 17u + 100000u + 1u);
    EXPECT_EQ(lines[2].text, "0000.000 last");
}

TEST_F(LogManagerTest, AMessageThatCannotGrowTheBufferIsDroppedAlone) {
    auto log = make(LogBuffer::kStep);  // never beyond the first block
    log->log(1, "before");
    EXPECT_FALSE(log->log(1, "%s", std::string(70000, 'z').c_str()));
    const std::string chunk(1000, 'c');
    int stored = 0;
    while (log->log(1, "%s", chunk.c_str())) {
        ++stored;
    }
    EXPECT_EQ(stored, 64);  // (65536 - 24) / 1018 entries of 1018 bytes
    EXPECT_EQ(log->droppedCount(), 2u);
    // The 360 bytes left still take a short message after the refused one.
    EXPECT_TRUE(log->log(1, "x"));
    const auto lines = walkSnapshot(*log);
    ASSERT_EQ(lines.size(), 2u + stored);
    EXPECT_EQ(lines[0].text, "0000.000 before");
    EXPECT_EQ(lines[stored].text, "0000.000 " + chunk);
    EXPECT_EQ(lines.back().text, "0000.000 x");
    // Drained, the block takes messages again.
    EXPECT_TRUE(log->log(1, "after"));
}

TEST(ElapsedText, IsFourDigitsDotThreeDigits) {
    char out[9] = {};
    formatElapsed(out, 0);
    EXPECT_STREQ(out, "0000.000");
    formatElapsed(out, 9999999);
    EXPECT_STREQ(out, "9999.999");
    formatElapsed(out, 10000000);
    EXPECT_STREQ(out, "0000.000");
    formatElapsed(out, 10001042);
    EXPECT_STREQ(out, "0001.042");
}

}  // namespace
}  // namespace session
