// The call recorders: headers as written and as finished, the samples behind them,
// and the recorders' life with the session client.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "session/tests/session_test_support.h"
#include "session/wav_recorder.h"

namespace session::testing {
namespace {

namespace fs = std::filesystem;

std::vector<uint8_t> readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

uint32_t read32(const std::vector<uint8_t>& b, size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}
uint16_t read16(const std::vector<uint8_t>& b, size_t at) {
    return static_cast<uint16_t>(b[at] | (b[at + 1] << 8));
}

struct Header {
    uint16_t channels;
    uint32_t rate;
    uint32_t byteRate;
    uint16_t blockAlign;
    uint32_t dataBytes;
};

// Checks the fixed parts of a header and the RIFF size against the data size.
Header parseHeader(const std::vector<uint8_t>& b) {
    EXPECT_GE(b.size(), 44u);
    if (b.size() < 44) {
        return {};
    }
    EXPECT_EQ(std::string(b.begin(), b.begin() + 4), "RIFF");
    EXPECT_EQ(std::string(b.begin() + 8, b.begin() + 16), "WAVEfmt ");
    EXPECT_EQ(read32(b, 16), 16u);
    EXPECT_EQ(read16(b, 20), 1u);
    EXPECT_EQ(read16(b, 34), 16u);
    EXPECT_EQ(std::string(b.begin() + 36, b.begin() + 40), "data");
    const Header h{read16(b, 22), read32(b, 24), read32(b, 28), read16(b, 32), read32(b, 40)};
    EXPECT_EQ(read32(b, 4), 36 + h.dataBytes);
    EXPECT_EQ(b.size(), 44 + h.dataBytes);
    return h;
}

std::vector<int16_t> samplesOf(const std::vector<uint8_t>& b) {
    std::vector<int16_t> out((b.size() - 44) / 2);
    std::memcpy(out.data(), b.data() + 44, out.size() * 2);
    return out;
}

class WavRecorderTest : public SessionTest {
protected:
    void SetUp() override {
        SessionTest::SetUp();
        dir = fs::temp_directory_path() /
              ("qel_wav_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override {
        client.reset();
        fs::remove_all(dir);
    }
    std::string file(const char* name) const { return (dir / name).string(); }

    fs::path dir;
};

TEST_F(WavRecorderTest, RecordpostWritesAThirtyTwoKilohertzMonoHeaderAtOnce) {
    ASSERT_TRUE(client->recordpost(file("post.wav").c_str()));
    const std::vector<uint8_t> expected = {
        'R', 'I', 'F', 'F', 36, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ', 16, 0, 0, 0, 1, 0, 1, 0,
        0x00, 0x7D, 0, 0, 0x00, 0xFA, 0, 0, 2, 0, 16, 0, 'd', 'a', 't', 'a', 0, 0, 0, 0};
    EXPECT_EQ(readFile(file("post.wav")), expected);
}

TEST_F(WavRecorderTest, TheDeviceRecordingHasTwoChannelsAtTheDeviceRate) {
    WavRecorder recorder(2, 1024);
    ASSERT_TRUE(recorder.start(file("dev.wav").c_str(), 44100));
    recorder.finish();
    const Header h = parseHeader(readFile(file("dev.wav")));
    EXPECT_EQ(h.channels, 2);
    EXPECT_EQ(h.rate, 44100u);
    EXPECT_EQ(h.byteRate, 176400u);
    EXPECT_EQ(h.blockAlign, 4);
    // Before audioSetup the client knows no device rate.
    ASSERT_TRUE(client->record(file("client.wav").c_str()));
    client.reset();
    EXPECT_EQ(parseHeader(readFile(file("client.wav"))).rate, 0u);
}

TEST_F(WavRecorderTest, ARecordingHoldsItsSamplesInterleavedAndItsSizesAreRightAtTheEnd) {
    WavRecorder recorder(2, 1024);
    ASSERT_TRUE(recorder.start(file("call.wav").c_str(), 48000));
    std::vector<int16_t> captured(341), played(341);
    for (int i = 0; i < 341; ++i) {
        captured[i] = static_cast<int16_t>(i);
        played[i] = static_cast<int16_t>(-i);
    }
    const int16_t* channels[] = {captured.data(), played.data()};
    EXPECT_EQ(recorder.push(channels, 341), 341u);
    recorder.drain();
    const int16_t* onlyCaptured[] = {captured.data(), nullptr};
    EXPECT_EQ(recorder.push(onlyCaptured, 10), 10u);
    recorder.finish();
    EXPECT_EQ(recorder.push(channels, 5), 0u) << "nothing is taken once the recording ended";

    const std::vector<uint8_t> bytes = readFile(file("call.wav"));
    EXPECT_EQ(parseHeader(bytes).dataBytes, (341u + 10u) * 4);
    const std::vector<int16_t> samples = samplesOf(bytes);
    ASSERT_EQ(samples.size(), 702u);
    EXPECT_EQ(samples[2 * 200], 200);
    EXPECT_EQ(samples[2 * 200 + 1], -200);
    EXPECT_EQ(samples[2 * 345], 4);
    EXPECT_EQ(samples[2 * 345 + 1], 0);
}

TEST_F(WavRecorderTest, AFullRingTurnsTheLostSamplesIntoSilenceAndKeepsTheTiming) {
    WavRecorder recorder(1, 16);
    ASSERT_TRUE(recorder.start(file("overrun.wav").c_str(), 32000));
    std::vector<int16_t> ramp(40);
    for (int i = 0; i < 40; ++i) {
        ramp[i] = static_cast<int16_t>(i + 1);
    }
    const int16_t* channels[] = {ramp.data()};
    EXPECT_EQ(recorder.push(channels, 40), 16u);
    EXPECT_EQ(recorder.overrunFrames(), 24u);
    recorder.finish();
    const std::vector<int16_t> samples = samplesOf(readFile(file("overrun.wav")));
    ASSERT_EQ(samples.size(), 40u);
    EXPECT_EQ(samples[15], 16);
    EXPECT_EQ(samples[16], 0);
    EXPECT_EQ(samples[39], 0);
}

TEST_F(WavRecorderTest, StartingAgainTruncatesAndAMissingDirectoryFails) {
    const std::string path = file("again.wav");
    ASSERT_TRUE(client->recordpost(path.c_str()));
    const int16_t tone[4] = {1, 2, 3, 4};
    const int16_t* channels[] = {tone};
    client->processedRecorder().push(channels, 4);
    ASSERT_TRUE(client->recordpost(path.c_str()));
    client->processedRecorder().finish();
    EXPECT_EQ(parseHeader(readFile(path)).dataBytes, 0u);

    EXPECT_FALSE(client->recordpost(file("missing/dir.wav").c_str()));
    EXPECT_FALSE(client->processedRecorder().recording());
}

TEST_F(WavRecorderTest, ThePollTickDrainsAndEveryDisconnectFinishes) {
    ASSERT_TRUE(client->recordpost(file("session.wav").c_str()));
    ASSERT_TRUE(client->announce());
    const int16_t tone[320] = {7};
    const int16_t* channels[] = {tone};
    client->processedRecorder().push(channels, 320);
    PollEvent event;
    while (client->poll(event)) {
    }
    EXPECT_EQ(fs::file_size(file("session.wav")), 44u + 640u) << "samples reach the disk between ticks";
    client->processedRecorder().push(channels, 320);
    // The session ends by itself: the announce answer never comes.
    FakeClock::now += 3100;
    while (client->state() != E_QELCS_DISCONNECTED) {
        client->poll(event);
    }
    EXPECT_FALSE(client->processedRecorder().recording());
    EXPECT_EQ(parseHeader(readFile(file("session.wav"))).dataBytes, 1280u);
}

TEST_F(WavRecorderTest, ADisconnectWithNoRecordingLeavesFilesAlone) {
    ASSERT_TRUE(client->recordpost(file("kept.wav").c_str()));
    client->processedRecorder().finish();
    const auto before = readFile(file("kept.wav"));
    EXPECT_FALSE(client->disconnect());
    EXPECT_EQ(readFile(file("kept.wav")), before);
}

// Both recorders on one file: each rewrites its own header when its recording ends, so
// the header left in the file is that of the recorder that ended last.
TEST_F(WavRecorderTest, DisconnectEndsRecordpostFirstAndDestructionEndsRecordFirst) {
    const std::string path = file("shared.wav");
    ASSERT_TRUE(client->record(path.c_str()));
    ASSERT_TRUE(client->recordpost(path.c_str()));
    EXPECT_FALSE(client->disconnect());  // refused for an idle session, and ends both anyway
    EXPECT_EQ(parseHeader(readFile(path)).channels, 2) << "record ended last";

    ASSERT_TRUE(client->record(path.c_str()));
    ASSERT_TRUE(client->recordpost(path.c_str()));
    client.reset();
    const Header last = parseHeader(readFile(path));
    EXPECT_EQ(last.channels, 1) << "recordpost ended last";
    EXPECT_EQ(last.rate, 32000u);
}

}  // namespace
}  // namespace session::testing
