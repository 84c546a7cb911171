#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tools/qelcall/latency.h"
#include "tools/qelcall/latency_stages.h"
#include "tools/qelcall/wav_file.h"

namespace {

std::string tempPath(const char* name) {
    return (std::filesystem::temp_directory_path() / (std::to_string(getpid()) + name)).string();
}

// A hand-made 16-bit file: `channels` interleaved, an extra chunk before "data".
void writeRaw(const std::string& path, int channels, int bits, const std::vector<int16_t>& samples) {
    std::string s = "RIFF....WAVEfmt ";
    auto put = [&](uint32_t v, int n) { for (int i = 0; i < n; ++i) s.push_back(static_cast<char>(v >> (8 * i))); };
    put(16, 4); put(1, 2); put(static_cast<uint32_t>(channels), 2); put(48000, 4);
    put(48000u * 2 * static_cast<uint32_t>(channels), 4); put(static_cast<uint32_t>(2 * channels), 2);
    put(static_cast<uint32_t>(bits), 2);
    s += "LIST"; put(3, 4); s += "abc"; s.push_back(0);  // odd size: padded
    s += "data"; put(static_cast<uint32_t>(samples.size() * 2), 4);
    for (int16_t v : samples) put(static_cast<uint16_t>(v), 2);
    std::ofstream(path, std::ios::binary) << s;
}

TEST(WavFile, StereoIsMixedDownAndChunksAreSkipped) {
    const std::string path = tempPath("stereo.wav");
    writeRaw(path, 2, 16, {16384, 0, -32768, -32768, 100, -100});
    std::string error;
    const auto a = qelcall::readWav(path, error);
    ASSERT_TRUE(a) << error;
    EXPECT_EQ(a->rate, 48000);
    ASSERT_EQ(a->samples.size(), 3u);
    EXPECT_FLOAT_EQ(a->samples[0], 0.25f);
    EXPECT_FLOAT_EQ(a->samples[1], -1.0f);
    EXPECT_FLOAT_EQ(a->samples[2], 0.0f);
    std::filesystem::remove(path);
}

TEST(WavFile, RefusesWhatItCannotPlay) {
    std::string error;
    EXPECT_FALSE(qelcall::readWav(tempPath("missing.wav"), error));
    const std::string path = tempPath("eight.wav");
    writeRaw(path, 1, 8, {1, 2});
    EXPECT_FALSE(qelcall::readWav(path, error));
    EXPECT_NE(error.find("16-bit"), std::string::npos);
    std::ofstream(path, std::ios::binary) << "RIFF\x04\0\0\0WAVEjunk";
    EXPECT_FALSE(qelcall::readWav(path, error));
    std::filesystem::remove(path);
}

TEST(WavFile, WrittenFileReadsBackClamped) {
    const std::string path = tempPath("round.wav");
    ASSERT_TRUE(qelcall::writeWav(path, {48000, {0.5f, -0.25f, 2.0f, -2.0f}}));
    std::string error;
    const auto a = qelcall::readWav(path, error);
    ASSERT_TRUE(a) << error;
    ASSERT_EQ(a->samples.size(), 4u);
    EXPECT_NEAR(a->samples[0], 0.5f, 1e-4);
    EXPECT_NEAR(a->samples[1], -0.25f, 1e-4);
    EXPECT_NEAR(a->samples[2], 1.0f, 1e-4);
    EXPECT_NEAR(a->samples[3], -1.0f, 1e-4);
    EXPECT_EQ(std::filesystem::file_size(path), 44u + 8u);
    std::filesystem::remove(path);
}

TEST(ClickLatency, MeasuresFromEachSignalsOwnPeak) {
    std::vector<float> sent(4800, 0.0f), heard(4800, 0.01f);
    sent[480] = 0.9f;
    heard[480 + 2400] = -0.2f;  // quieter after the codec, still found
    EXPECT_DOUBLE_EQ(qelcall::clickLatencyMs(sent, heard, 48000), 50.0);
    EXPECT_LT(qelcall::clickLatencyMs(sent, std::vector<float>(4800, 0.01f), 48000), 0);
    std::vector<float> early(4800, 0.0f);
    early[10] = 0.5f;
    EXPECT_LT(qelcall::clickLatencyMs(sent, early, 48000), 0);
}

}  // namespace

// Each stage is the gap between two stamps; the device buffers lose the click's place
// in them; a stamp missing or out of order gives no stages at all.
TEST(ClickStages, StagesAreTheGapsBetweenStampsAndAddUp) {
    qelcall::ClickStamps s;
    s.handedInUs = 1'000'000;
    s.inputOffset = 96;  // 2 ms into the captured buffer
    s.readyUs = s.handedInUs + 10'000;
    s.encodedUs = s.readyUs + 5'000;
    s.arrivedUs = s.encodedUs + 100;
    s.queuedUs = s.arrivedUs + 19'900;
    s.decodedUs = s.queuedUs + 40'000;
    s.playedUs = s.decodedUs + 10'000;
    s.outputOffset = 48;
    double ms[qelcall::kStageCount];
    ASSERT_TRUE(qelcall::stageTimes(s, 10.0, 10.0, 48000, ms));
    const double expected[] = {8.0, 10.0, 5.0, 0.1, 19.9, 40.0, 10.0, 11.0};
    double sum = 0;
    for (int i = 0; i < qelcall::kStageCount; ++i) {
        EXPECT_NEAR(ms[i], expected[i], 1e-9) << qelcall::stageName(i);
        sum += ms[i];
    }
    // Between the two callbacks the stages cover exactly the wall time.
    EXPECT_NEAR(sum - 8.0 - 11.0, (s.playedUs - s.handedInUs) / 1000.0, 1e-9);

    qelcall::ClickStamps lost = s;
    lost.queuedUs = 0;  // the echo never reached the jitter buffer
    EXPECT_FALSE(qelcall::stageTimes(lost, 10.0, 10.0, 48000, ms));
    qelcall::ClickStamps early = s;
    early.decodedUs = early.queuedUs - 1;  // decoded before it was queued: not the same click
    EXPECT_FALSE(qelcall::stageTimes(early, 10.0, 10.0, 48000, ms));

    // Three clicks whose slow stages differ: stage by stage the medians would be 20 and
    // 20 against totals of 40, 50 and 60. The median click's own stages add up.
    double rows[3 * qelcall::kStageCount] = {};
    const double jitter[] = {40.0, 20.0, 0.0};
    const double fifo[] = {20.0, 20.0, 40.0};
    for (int r = 0; r < 3; ++r) {
        rows[r * qelcall::kStageCount + qelcall::kJitterBuffer] = jitter[r];
        rows[r * qelcall::kStageCount + qelcall::kPlaybackFifo] = fifo[r];
    }
    rows[qelcall::kStageCount + qelcall::kWholeFrame] = 10.0;  // click 2: 50 in all
    double median[qelcall::kStageCount + 1];
    qelcall::medianClick(rows, 3, median);
    EXPECT_EQ(median[qelcall::kStageCount], 50.0);
    EXPECT_EQ(median[qelcall::kJitterBuffer], 20.0);
    EXPECT_EQ(median[qelcall::kWholeFrame], 10.0);
    double stages = 0.0;
    for (int i = 0; i < qelcall::kStageCount; ++i) stages += median[i];
    EXPECT_EQ(stages, median[qelcall::kStageCount]);
}
