// Test tone, sound clips and the device rescan on the PortAudio double: the refusals and
// failures this machine's sound server never gives, who frees a clip when its end meets
// a stop, and the library references given back on every path.
#include <gtest/gtest.h>

#include <thread>

#include "engine/device_rescan.h"
#include "engine/tests/portaudio_double.h"
#include "engine/tests/session_log.h"
#include "engine/tests/eventually.h"
#include "platform/clock.h"

namespace tallix {
namespace {

using testing::PortAudioDouble;
using testing::SessionLog;

int g_audioSetups = 0;
int countAudioSetup(QelClient*, int, int, int) {
    return ++g_audioSetups;
}

using testing::eventually;

class SoundPlayerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        pa.devices = {{"Mic", 1, 0, 48000}, {"Speakers", 0, 2, 48000}, {"Headset", 1, 1, 44100}};
        pa.defaultInput = 0;
        pa.defaultOutput = 1;
        session.audioSetup = &countAudioSetup;
        streams.setSession(&session, nullptr);
        g_audioSetups = 0;
    }
    void TearDown() override {
        (void)sounds.stopSound();
        streams.close();
        EXPECT_EQ(pa.references, 0);
        EXPECT_EQ(pa.openStreams, 0);
    }

    Result play(const char* key, int samples, int rate, bool loop) {
        std::vector<int16_t> clip(static_cast<size_t>(samples), 1000);
        return sounds.playSound(key, reinterpret_cast<const uint8_t*>(clip.data()),
                                samples * 2, rate, loop);
    }
    SoundClip& playingClip() { return *static_cast<SoundClip*>(pa.userData); }
    // Runs the stream's callback as the audio thread would.
    int pump(unsigned long frames) {
        std::vector<int16_t> out(frames);
        return pa.callback(nullptr, out.data(), frames, nullptr, 0, pa.userData);
    }

    PortAudioDouble pa;
    SessionLog log;
    SessionApi session{};
    AudioControls controls;
    StreamSlots slots;
    DeviceRegistry registry{pa.api(), log.log()};
    CallStreams streams{slots, registry, log.log(), controls};
    SoundPlayer sounds{slots, registry, log.log()};
    DeviceRescan rescan{slots, registry, log.log(), streams, sounds};
};

TEST_F(SoundPlayerTest, ClipIsResampledOnlyWhenTheDeviceRefusesItsRate) {
    pa.refusedOutputRates = {44100};
    ASSERT_EQ(play("Speakers", 4410, 44100, false), Result::ok);
    EXPECT_EQ(pa.openedRates.back(), 48000);
    EXPECT_NEAR(playingClip().byteLength(), 9600, 40);
    EXPECT_TRUE(log.contains("4|Resampling sound clip from 44100 Hz to 48000 Hz"));
    EXPECT_EQ(pa.references, 1);
    ASSERT_EQ(sounds.stopSound(), Result::ok);
    EXPECT_FALSE(sounds.soundPlaying());

    ASSERT_EQ(play(nullptr, 3200, 32000, false), Result::ok);
    EXPECT_EQ(pa.openedRates.back(), 32000);
    EXPECT_EQ(pa.openedDevices.back(), 1);  // the default output device
    EXPECT_EQ(playingClip().byteLength(), 6400);
}

TEST_F(SoundPlayerTest, ClipWhoseResamplingWouldOverflowItsLengthIsRefused) {
    // 1 Hz to 48 kHz: 2M samples would become 144 G, past a 32-bit byte count (before,
    // the capacity's int conversion overflowed).
    pa.refusedOutputRates = {1};
    EXPECT_EQ(play("Speakers", 2000000, 1, false), Result::failed);
    EXPECT_TRUE(log.contains("1|Error resampling sound clip to 48000 Hz"));
    EXPECT_FALSE(sounds.soundPlaying());
    EXPECT_EQ(pa.references, 0);
    // However short, a factor the resampler cannot take is refused (48000 would make it
    // allocate 786 MB unchecked); 200 Hz (factor 240) plays.
    pa.refusedOutputRates = {1, 200};
    EXPECT_EQ(play("Speakers", 20, 1, false), Result::failed);
    EXPECT_FALSE(sounds.soundPlaying());
    EXPECT_EQ(pa.references, 0);
    EXPECT_EQ(play("Speakers", 20, 200, false), Result::ok);
}

TEST_F(SoundPlayerTest, RefusalsAndFailuresGiveEverythingBack) {
    ASSERT_EQ(streams.open(nullptr, nullptr), Result::ok);
    EXPECT_EQ(play(nullptr, 10, 48000, false), Result::busy);
    EXPECT_EQ(sounds.playTestTone(nullptr), Result::busy);
    streams.close();
    const size_t openings = pa.openedRates.size();

    EXPECT_EQ(play("Mic", 10, 48000, false), Result::deviceNotFound);
    EXPECT_TRUE(log.contains("1|Attempting to play a sound using an input device"));
    EXPECT_EQ(sounds.playTestTone("Mic"), Result::deviceNotFound);
    EXPECT_TRUE(log.contains("1|Attempting to play test tone using an input device"));
    EXPECT_EQ(play("Nowhere", 10, 48000, true), Result::deviceNotFound);
    EXPECT_EQ(pa.references, 0);

    EXPECT_EQ(play(nullptr, 10, 0, false), Result::failed);
    EXPECT_EQ(play(nullptr, 10, -8000, false), Result::failed);
    EXPECT_EQ(sounds.playSound(nullptr, nullptr, 20, 48000, false), Result::failed);
    EXPECT_EQ(sounds.playSound(nullptr, nullptr, -2, 48000, false), Result::failed);
    EXPECT_TRUE(log.contains("1|Refused sound clip of 20 bytes at 48000 Hz"));
    EXPECT_EQ(pa.openedRates.size(), openings);

    pa.openError = paInternalError;
    EXPECT_EQ(play(nullptr, 10, 48000, false), Result::failed);
    EXPECT_TRUE(log.contains("1|Error opening sound stream [double error]"));
    EXPECT_EQ(sounds.playTestTone(nullptr), Result::failed);
    EXPECT_TRUE(log.contains("1|Error while creating audio stream: double error"));
    pa.openError = paNoError;
    pa.startError = paInternalError;
    EXPECT_EQ(play(nullptr, 10, 48000, true), Result::failed);
    EXPECT_TRUE(log.contains("1|Error starting sound stream [double error]"));
    EXPECT_EQ(sounds.playTestTone(nullptr), Result::failed);
    EXPECT_TRUE(log.contains("1|Error while starting audio stream: double error"));
    EXPECT_FALSE(slots.anyOpen());
    pa.startError = paNoError;
    pa.initializeError = paInternalError;
    EXPECT_EQ(play(nullptr, 10, 48000, true), Result::failed);
    EXPECT_TRUE(log.contains("1|Error while initialising PortAudio: double error"));
}

TEST_F(SoundPlayerTest, OneShotClipFreesItsSlotOnTheCleanUpThread) {
    ASSERT_EQ(play(nullptr, 300, 48000, false), Result::ok);
    EXPECT_EQ(pump(256), paContinue);
    EXPECT_EQ(pump(256), paComplete);
    pa.finish();  // PortAudio's audio thread, once drained
    EXPECT_TRUE(eventually([&] { return !sounds.soundPlaying(); }));
    EXPECT_EQ(pa.references, 0);
    EXPECT_EQ(pa.openStreams, 0);
    // The slot is free for the next clip at once.
    EXPECT_EQ(play(nullptr, 300, 48000, true), Result::ok);
}

TEST_F(SoundPlayerTest, StopMeetingTheClipsEndReleasesItOnce) {
    for (int round = 0; round < 200; ++round) {
        ASSERT_EQ(play(nullptr, 64, 48000, false), Result::ok);
        EXPECT_EQ(pump(128), paComplete);
        std::thread end([&] { pa.finish(); });
        EXPECT_EQ(sounds.stopSound(), Result::ok);  // the double's stop runs the handler too
        end.join();
        EXPECT_FALSE(sounds.soundPlaying());
    }
    // A last one-shot clip that only the clean-up thread frees: that thread handles its
    // wake-ups in order, so once it has freed this one it has dealt with every earlier
    // end, and a stray second release would show in the count.
    ASSERT_EQ(play(nullptr, 64, 48000, false), Result::ok);
    EXPECT_EQ(pump(128), paComplete);
    pa.finish();
    EXPECT_TRUE(eventually([&] { return !sounds.soundPlaying(); }));
    {
        std::lock_guard lock(slots.mutex);  // the clean-up thread's writes happen under it
        EXPECT_EQ(pa.references, 0);
    }
    EXPECT_FALSE(log.contains("Error shutting down PortAudio"));
    EXPECT_EQ(sounds.stopSound(), Result::ok);  // nothing playing: nothing to do
}

TEST_F(SoundPlayerTest, FailedStopStillClosesAndFreesEverything) {
    ASSERT_EQ(play(nullptr, 4800, 48000, true), Result::ok);
    pa.stopError = paInternalError;
    EXPECT_EQ(sounds.stopSound(), Result::failed);
    EXPECT_TRUE(log.contains("1|Error closing sound stream [double error]"));
    EXPECT_FALSE(sounds.soundPlaying());
    EXPECT_EQ(pa.references, 0);
    EXPECT_EQ(pa.openStreams, 0);
}

TEST_F(SoundPlayerTest, RescanWithoutStreamsEnumeratesAFreshList) {
    ASSERT_EQ(registry.probe(), Result::ok);
    ASSERT_EQ(registry.devices().size(), 3u);
    pa.devices.push_back({"USB Headset", 1, 2, 48000});
    EXPECT_EQ(rescan.rescan(false), Result::ok);
    ASSERT_EQ(registry.devices().size(), 4u);
    EXPECT_EQ(registry.devices().back().name, "USB Headset");
    EXPECT_EQ(pa.references, 0);
}

TEST_F(SoundPlayerTest, RescanRestartsALoopingClipWhereItWas) {
    ASSERT_EQ(play("Headset", 4800, 48000, true), Result::ok);
    EXPECT_EQ(pump(1000), paContinue);
    EXPECT_EQ(rescan.rescan(false), Result::busy);
    ASSERT_EQ(rescan.rescan(true), Result::ok);
    EXPECT_TRUE(sounds.soundPlaying());
    EXPECT_EQ(pa.openedDevices, (std::vector<int>{2, 2}));
    EXPECT_EQ(playingClip().position, 2000);
    EXPECT_TRUE(playingClip().loop);
    EXPECT_EQ(pa.references, 1);
    EXPECT_EQ(pa.openStreams, 1);

    // The device is gone at the next rescan: the clip is released, the slot empty.
    pa.devices.pop_back();
    EXPECT_EQ(rescan.rescan(true), Result::deviceNotFound);
    EXPECT_FALSE(sounds.soundPlaying());
    EXPECT_EQ(pa.references, 0);
}

TEST_F(SoundPlayerTest, RescanRestartsTheCallStreamWithoutANewFormat) {
    ASSERT_EQ(streams.open("Mic", "Headset"), Result::ok);
    EXPECT_EQ(g_audioSetups, 1);
    ASSERT_EQ(rescan.rescan(true), Result::ok);
    EXPECT_TRUE(streams.callOpen());
    EXPECT_EQ(pa.openedDevices, (std::vector<int>{2, 2}));
    EXPECT_EQ(g_audioSetups, 1);  // the session library hears of no change
    EXPECT_EQ(pa.references, 1);
    EXPECT_TRUE(log.contains("3|Using audio devices input: [Mic] output: [Headset]"));
}

TEST_F(SoundPlayerTest, RescanDuringATestToneReplaysItOnTheRescanningThread) {
    Result first = Result::failed;
    std::thread tone([&] { first = sounds.playTestTone("Speakers"); });
    ASSERT_TRUE(eventually([&] { return slots.anyOpen(); }));
    EXPECT_EQ(rescan.rescan(false), Result::busy);
    const uint32_t start = platform::nowMs();
    ASSERT_EQ(rescan.rescan(true), Result::ok);
    EXPECT_GE(platform::nowMs() - start, SoundPlayer::kToneMs - 10);
    tone.join();
    EXPECT_EQ(first, Result::ok);  // the first tone's thread leaves the new one alone
    EXPECT_EQ(pa.openedDevices, (std::vector<int>{1, 1}));
    EXPECT_FALSE(slots.anyOpen());
    EXPECT_EQ(pa.references, 0);
}

}  // namespace
}  // namespace tallix
