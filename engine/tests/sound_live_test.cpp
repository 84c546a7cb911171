// Test tone, sound clips and rescans on the real PortAudio and the real sound server
// that the test run starts. A thin wrapper around the real library records what the
// engine's callbacks hand to the device.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <filesystem>

#include "engine/device_rescan.h"
#include "engine/tests/session_log.h"
#include "engine/tests/eventually.h"
#include "platform/clock.h"

namespace tallix {
namespace {

// The real library, with every stream's callback watched.
struct Watch {
    static constexpr size_t kCapacity = 48000 * 3;
    static inline PaStreamCallback* real = nullptr;
    static inline PaSampleFormat format = 0;
    static inline double rate = 0;
    static inline std::vector<float> floats = std::vector<float>(kCapacity);
    static inline std::vector<int16_t> shorts = std::vector<int16_t>(kCapacity);
    static inline std::atomic<size_t> frames{0};
    static inline std::atomic<unsigned long> firstBuffer{0};

    static int callback(const void* in, void* out, unsigned long count,
                        const PaStreamCallbackTimeInfo* time, PaStreamCallbackFlags flags,
                        void* data) {
        const int result = real(in, out, count, time, flags, data);
        const size_t at = frames.load(std::memory_order_relaxed);
        if (at == 0) {
            firstBuffer.store(count);
        }
        for (unsigned long i = 0; i < count && at + i < kCapacity; ++i) {
            if (format == paFloat32) {
                floats[at + i] = static_cast<const float*>(out)[i];
            } else {
                shorts[at + i] = static_cast<const int16_t*>(out)[i];
            }
        }
        frames.store(at + count, std::memory_order_release);
        return result;
    }
    static PaError open(PaStream** stream, const PaStreamParameters* in,
                        const PaStreamParameters* out, double sampleRate, unsigned long perBuffer,
                        PaStreamFlags flags, PaStreamCallback* cb, void* data) {
        real = cb;
        format = out->sampleFormat;
        rate = sampleRate;
        frames.store(0);
        return Pa_OpenStream(stream, in, out, sampleRate, perBuffer, flags, &Watch::callback,
                             data);
    }
    static PortAudioApi api() {
        PortAudioApi watched = systemPortAudio();
        watched.openStream = &Watch::open;
        return watched;
    }
};

using testing::eventually;

bool libraryReleased() {
    return Pa_GetDeviceCount() == paNotInitialized;  // reference count back at zero
}

size_t threadCount() {
    size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) {
        ++count;
    }
    return count;
}

std::vector<uint8_t> clipBytes(std::vector<int16_t> samples) {
    std::vector<uint8_t> bytes(samples.size() * 2);
    std::memcpy(bytes.data(), samples.data(), bytes.size());
    return bytes;
}

class SoundLiveTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(registry.probe(), Result::ok) << "no sound server"; }
    void TearDown() override {
        (void)sounds.stopSound();
        EXPECT_TRUE(libraryReleased());
    }
    Result play(const char* key, const std::vector<uint8_t>& bytes, int rate, bool loop) {
        return sounds.playSound(key, bytes.data(), static_cast<int32_t>(bytes.size()), rate, loop);
    }

    PortAudioApi pa = Watch::api();
    testing::SessionLog log;
    AudioControls controls;
    StreamSlots slots;
    DeviceRegistry registry{pa, log.log()};
    CallStreams streams{slots, registry, log.log(), controls};
    SoundPlayer sounds{slots, registry, log.log()};
    DeviceRescan rescan{slots, registry, log.log(), streams, sounds};
};

TEST_F(SoundLiveTest, TestToneLastsTwoSecondsAndPlaysOneSinePeriodPer200Samples) {
    const uint32_t start = platform::nowMs();
    ASSERT_EQ(sounds.playTestTone(nullptr), Result::ok);
    const uint32_t elapsed = platform::nowMs() - start;
    EXPECT_GE(elapsed, 2000u);
    EXPECT_LT(elapsed, 6000u);  // plus opening the device: slow under the sanitizers
    EXPECT_EQ(Watch::rate, 48000);
    const size_t played = Watch::frames.load();
    EXPECT_GT(played, 48000u);  // about 96000 frames in two seconds at 48 kHz
    for (size_t i = 0; i < std::min(played, Watch::kCapacity); ++i) {
        const double expected = std::sin(2 * 3.14159265 * static_cast<double>(i % 200) / 200);
        ASSERT_NEAR(Watch::floats[i], expected, 1e-5) << "sample " << i;
    }
    EXPECT_FALSE(slots.anyOpen());
}

TEST_F(SoundLiveTest, OneShotClipEndsByItselfAndEmptiesTheSlot) {
    ASSERT_EQ(play(nullptr, clipBytes(std::vector<int16_t>(4800, 3000)), 48000, false),
              Result::ok);
    EXPECT_TRUE(sounds.soundPlaying());
    EXPECT_TRUE(eventually([&] { return !sounds.soundPlaying(); }));
    EXPECT_TRUE(eventually(libraryReleased));
    // All 4800 samples were played, then silence.
    ASSERT_GE(Watch::frames.load(), 4800u);
    EXPECT_EQ(Watch::shorts[0], 3000);
    EXPECT_EQ(Watch::shorts[4799], 3000);
    EXPECT_EQ(Watch::shorts[4800], 0);
}

TEST_F(SoundLiveTest, LoopingClipOfOddLengthPlaysOnceAndEndsByItself) {
    std::vector<uint8_t> bytes = clipBytes(std::vector<int16_t>(4800, 2000));
    bytes.push_back(0x7f);  // no whole sample after the last one
    ASSERT_EQ(play(nullptr, bytes, 48000, true), Result::ok);
    EXPECT_TRUE(eventually([&] { return !sounds.soundPlaying(); }));
    EXPECT_TRUE(eventually(libraryReleased));
    ASSERT_GE(Watch::frames.load(), 4800u);
    EXPECT_EQ(Watch::shorts[4799], 2000);
    EXPECT_EQ(Watch::shorts[4800], 0) << "not started over";
}

TEST_F(SoundLiveTest, ClipIsResampledForADeviceThatRefusesItsRate) {
    std::vector<int16_t> tone(4410);
    for (size_t i = 0; i < tone.size(); ++i) {
        tone[i] = static_cast<int16_t>(8000 * std::sin(2 * M_PI * 441.0 * i / 44100.0));
    }
    // The JACK device runs at the server's 48 kHz only; "default" converts.
    ASSERT_EQ(play("jackpcm", clipBytes(tone), 44100, true), Result::ok);
    EXPECT_EQ(Watch::rate, 48000);
    EXPECT_TRUE(log.contains("4|Resampling sound clip from 44100 Hz to 48000 Hz"));
    ASSERT_EQ(sounds.stopSound(), Result::ok);
    log.take();
    ASSERT_EQ(play("default", clipBytes(tone), 44100, true), Result::ok);
    EXPECT_EQ(Watch::rate, 44100);
    for (const std::string& line : log.take()) {
        EXPECT_EQ(line.find("Resampling"), std::string::npos) << line;
    }
}

TEST_F(SoundLiveTest, LoopingClipRepeatsWithinABufferAndSurvivesARescan) {
    ASSERT_EQ(play(nullptr, clipBytes({100, 200, 300, 400, 500}), 48000, true), Result::ok);
    ASSERT_TRUE(eventually([] { return Watch::frames.load() > 10; }));
    ASSERT_GT(Watch::firstBuffer.load(), 5u);
    for (size_t i = 0; i < Watch::firstBuffer.load(); ++i) {
        ASSERT_EQ(Watch::shorts[i], static_cast<int16_t>(100 * (i % 5 + 1))) << i;
    }
    EXPECT_EQ(rescan.rescan(false), Result::busy);
    ASSERT_EQ(rescan.rescan(true), Result::ok);
    EXPECT_TRUE(sounds.soundPlaying());
    ASSERT_TRUE(eventually([] { return Watch::frames.load() > 2000; }));
    // Resumed where it was: the first sample after the restart continues the cycle.
    const int16_t first = Watch::shorts[0];
    EXPECT_EQ(first % 100, 0);
    EXPECT_EQ(Watch::shorts[1], first == 500 ? 100 : first + 100);
    ASSERT_EQ(sounds.stopSound(), Result::ok);
    EXPECT_FALSE(sounds.soundPlaying());
}

// Each round takes PortAudio from no reference to one and back twice, and the library
// enumerates the sound server's devices every time (about 0.3 s): the Java side's
// stress test runs longer.
TEST_F(SoundLiveTest, RepeatedStartsStopsAndRescansLeaveNothingBehind) {
    const std::vector<uint8_t> clip = clipBytes(std::vector<int16_t>(960, 1000));
    // The first clip starts the clean-up thread, which stays.
    ASSERT_EQ(play(nullptr, clip, 48000, true), Result::ok);
    ASSERT_EQ(sounds.stopSound(), Result::ok);
    platform::sleepMs(200);
    const size_t threads = threadCount();
    for (int round = 0; round < 30; ++round) {
        ASSERT_EQ(play(nullptr, clip, 48000, round % 2 == 0), Result::ok) << round;
        if (round % 5 == 0) {
            ASSERT_EQ(rescan.rescan(true), Result::ok) << round;
        }
        ASSERT_EQ(sounds.stopSound(), Result::ok) << round;
        ASSERT_EQ(rescan.rescan(false), Result::ok) << round;
    }
    EXPECT_TRUE(libraryReleased());
    EXPECT_TRUE(eventually([&] { return threadCount() <= threads; }))
        << threadCount() << " threads, " << threads << " before";
}

}  // namespace
}  // namespace tallix
