// Behaviour of the audio operations of a session: set-up, flags, the per-buffer
// path's edge cases, the encoder and receive steps and the statistics line.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <cstring>
#include <vector>


#include "audio_test_support.h"
#include "session/audio/audio_processor.h"
#include "platform/clock.h"

namespace {

using qeltest::RecordingLog;

class VoiceAudioTest : public ::testing::Test {
protected:
    void SetUp() override {
        audio.reset();
        audio.cipher().rekey(qeltest::testKey());
    }

    RecordingLog log;
    qel::VoiceAudio audio{log};
};

TEST_F(VoiceAudioTest, AudioIOBeforeSetupTouchesNothing) {
    std::vector<float> out(512, 0.25f);
    float* outputs[1] = {out.data()};
    EXPECT_FALSE(audio.audioIO(nullptr, 0, 1.0f, outputs, 1, 1.0f));
    EXPECT_EQ(out[0], 0.25f);
    EXPECT_EQ(out[511], 0.25f);
}

TEST_F(VoiceAudioTest, SetupRefusesInvalidFormatsAndKeepsTheOldOne) {
    EXPECT_EQ(audio.audioSetup(0, 512, 0), 0);
    EXPECT_EQ(audio.audioSetup(-48000, 512, 0), 0);
    EXPECT_EQ(audio.audioSetup(48000, 0, 0), 0);
    EXPECT_EQ(audio.audioSetup(48000, 32001, 0), 0);
    EXPECT_EQ(audio.deviceRate(), 0);
    EXPECT_FALSE(qeltest::runBuffer(audio, nullptr, 512, nullptr));

    EXPECT_EQ(audio.audioSetup(48000, 512, 960), 2);
    EXPECT_EQ(audio.path().streamDelayMs(), 20);
    EXPECT_EQ(audio.audioSetup(16000, -1, 0), 0);
    EXPECT_EQ(audio.deviceRate(), 48000);
    EXPECT_EQ(audio.frames(), 512);
}

TEST_F(VoiceAudioTest, RepeatedSetupKeepsBufferedAudio) {
    ASSERT_EQ(audio.audioSetup(48000, 512, 0), 2);
    audio.setLastVoiceReceive(1);
    std::vector<float> in(512, 0.1f);
    for (int i = 0; i < 3; ++i) {
        qeltest::runBuffer(audio, in.data(), 512, nullptr);
    }
    const int held = audio.path().captureFifo().count();
    ASSERT_GT(held, 1000);
    EXPECT_EQ(audio.audioSetup(48000, 512, 4800), 48000);  // latency ignored, nothing changes
    EXPECT_EQ(audio.path().captureFifo().count(), held);
    EXPECT_EQ(audio.latency(), 0);
    // A new format starts afresh.
    EXPECT_EQ(audio.audioSetup(44100, 512, 0), 2);
    EXPECT_EQ(audio.path().captureFifo().count(), 0);
}

TEST_F(VoiceAudioTest, FlagsStartOnAndSwitchTheModule) {
    for (int flag = 1; flag <= 3; ++flag) {
        EXPECT_EQ(audio.getFlag(flag), 1) << flag;
    }
    EXPECT_TRUE(audio.setFlag(1, false));
    EXPECT_TRUE(audio.setFlag(2, false));
    EXPECT_TRUE(audio.setFlag(3, true));
    EXPECT_EQ(audio.getFlag(1), 0);
    EXPECT_EQ(audio.getFlag(2), 0);
    EXPECT_EQ(audio.getFlag(3), 1);
    EXPECT_FALSE(audio.setFlag(4, true));
    EXPECT_EQ(audio.getFlag(0), 0);
    EXPECT_EQ(audio.getFlag(4), 0);
    EXPECT_EQ(log.count("setAEC1(false)"), 1);
    EXPECT_EQ(log.count("setAGC(false)"), 1);
    EXPECT_EQ(log.count("setNoiseSup(true)"), 1);

    // The requests reach the module on the audio thread, before its next block: until
    // then no other thread has called into it.
    ASSERT_TRUE(audio.processor().exists());
    EXPECT_TRUE(audio.processor().components().echoCancellation);
    EXPECT_TRUE(audio.processor().components().gainControl);
    ASSERT_EQ(audio.audioSetup(48000, 512, 0), 2);
    audio.setLastVoiceReceive(1);
    std::vector<float> in(512, 0.0f);
    EXPECT_TRUE(qeltest::runBuffer(audio, in.data(), 512, nullptr));
    const qel::AudioProcessor::Components on = audio.processor().components();
    EXPECT_FALSE(on.echoCancellation);
    EXPECT_FALSE(on.gainControl);
    EXPECT_TRUE(on.noiseSuppression);
    EXPECT_TRUE(on.highPassFilter);
    // Flags survive a reset, and a reset applies a request still pending.
    EXPECT_TRUE(audio.setFlag(3, false));
    audio.reset();
    EXPECT_EQ(audio.getFlag(1), 0);
    EXPECT_FALSE(audio.processor().components().echoCancellation);
    EXPECT_FALSE(audio.processor().components().noiseSuppression);
}

TEST_F(VoiceAudioTest, ClosedGateGivesSilenceAndQueuesNoCapture) {
    ASSERT_EQ(audio.audioSetup(48000, 512, 0), 2);
    std::vector<float> in(512, 0.5f);
    std::vector<float> out(512, 0.7f);
    const float* inputs[1] = {in.data()};
    float* outputs[1] = {out.data()};
    EXPECT_TRUE(audio.audioIO(inputs, 1, 1.0f, outputs, 1, 1.0f));
    EXPECT_EQ(out[0], 0.0f);
    EXPECT_EQ(out[511], 0.0f);
    EXPECT_EQ(audio.path().captureFifo().count(), 0);
    uint8_t payload[1008];
    EXPECT_EQ(qeltest::sealFrame(audio, payload), 0);
}

TEST_F(VoiceAudioTest, UnderrunIsReportedThroughItsSlot) {
    ASSERT_EQ(audio.audioSetup(48000, 512, 0), 2);
    audio.setLastVoiceReceive(1);
    std::vector<float> in(512, 0.0f);
    for (int i = 0; i < 30; ++i) {
        qeltest::runBuffer(audio, in.data(), 512, nullptr);
    }
    int underruns = 0;
    for (const auto& l : log.lines()) {
        if (l.text == "Network underrun") {
            EXPECT_EQ(l.slot, qel::VoiceAudio::kUnderrunSlot);
            EXPECT_EQ(l.level, 4);
            ++underruns;
        }
    }
    // One jitter-buffer get per 640 samples played: about 30 * 341 / 640 of them.
    EXPECT_GE(underruns, 15);
    EXPECT_LE(underruns, 17);
}

TEST_F(VoiceAudioTest, ChannelsGainsAndMixing) {
    ASSERT_EQ(audio.audioSetup(48000, 512, 0), 2);
    audio.setLastVoiceReceive(1);
    const auto& capture = audio.path().captureFifo();

    // Two inputs and a null entry: mixed as their mean (gain / n) times 32768. The
    // newest samples of the capture FIFO have not been through the module yet.
    std::vector<float> a(512, 0.5f);
    std::vector<float> b(512, -0.25f);
    const float* inputs[3] = {a.data(), nullptr, b.data()};
    std::vector<float> o1(512, 1.0f), o2(512, 2.0f), o3(512, 3.0f);
    float* outputs[4] = {o1.data(), nullptr, o2.data(), o3.data()};
    ASSERT_TRUE(audio.audioIO(inputs, 3, 1.0f, outputs, 4, 1.0f));
    ASSERT_GT(capture.pending(), 0);
    EXPECT_EQ(capture.data()[capture.count() - 1], 4096);
    EXPECT_EQ(o1, o2);
    EXPECT_EQ(o1, o3);

    // Clipping at full scale.
    ASSERT_TRUE(audio.audioIO(inputs, 3, 100.0f, outputs, 4, 1.0f));
    EXPECT_EQ(capture.data()[capture.count() - 1], 32767);

    // A negative input gain acts as 0, and so does a negative output gain.
    std::fill(o3.begin(), o3.end(), 3.0f);
    ASSERT_TRUE(audio.audioIO(inputs, 3, -1.0f, outputs, 4, -2.0f));
    EXPECT_EQ(capture.data()[capture.count() - 1], 0);
    for (float s : o3) {
        ASSERT_EQ(s, 0.0f);
    }
    // All inputs null: the capture is silence, the output still produced.
    const int before = capture.count();
    const float* none[2] = {nullptr, nullptr};
    ASSERT_TRUE(audio.audioIO(none, 2, 1.0f, outputs, 4, 1.0f));
    EXPECT_GE(capture.count() - before, 341);
    EXPECT_EQ(capture.data()[capture.count() - 1], 0);
}

TEST_F(VoiceAudioTest, RateConversionAt32kAnd48k) {
    ASSERT_EQ(audio.audioSetup(32000, 512, 0), 2);
    audio.setLastVoiceReceive(1);
    std::vector<float> in(512, 0.0f);
    qeltest::runBuffer(audio, in.data(), 512, nullptr);
    EXPECT_EQ(audio.path().captureFifo().count(), 512);  // one to one

    ASSERT_EQ(audio.audioSetup(48000, 512, 0), 2);
    int previous = 0;
    for (int call = 0; call < 20; ++call) {
        qeltest::runBuffer(audio, in.data(), 512, nullptr);
        const int added = audio.path().captureFifo().count() - previous;
        EXPECT_GE(added, 341);
        EXPECT_LE(added, 342);
        previous = audio.path().captureFifo().count();
        // Playback keeps pace: processed capture trails the filled count by less
        // than one processing block plus one buffer.
        EXPECT_LE(audio.path().captureFifo().pending(), 320 + 342);
    }
}

TEST_F(VoiceAudioTest, BusyPathLockSkipsTheBufferSilently) {
    ASSERT_EQ(audio.audioSetup(48000, 512, 0), 2);
    audio.setLastVoiceReceive(1);
    ASSERT_TRUE(audio.path().lock().tryAcquire(static_cast<int32_t>(qel::PathHolder::kEncoder)));
    std::vector<float> in(512, 0.3f);
    std::vector<float> out(512, 0.9f);
    const float* inputs[1] = {in.data()};
    float* outputs[1] = {out.data()};
    const uint32_t start = platform::nowMs();
    EXPECT_TRUE(audio.audioIO(inputs, 1, 1.0f, outputs, 1, 1.0f));
    const uint32_t waited = platform::nowMs() - start;
    EXPECT_GE(waited, 15u);   // 20 tries, 1 ms apart
    EXPECT_LT(waited, 200u);  // and no longer
    EXPECT_EQ(out[0], 0.0f);
    EXPECT_EQ(out[511], 0.0f);
    EXPECT_EQ(audio.skippedBuffers(), 1u);
    EXPECT_EQ(audio.path().captureFifo().count(), 0);  // nothing touched unserialised
    audio.path().lock().release(static_cast<int32_t>(qel::PathHolder::kEncoder));
    EXPECT_TRUE(audio.audioIO(inputs, 1, 1.0f, outputs, 1, 1.0f));
    EXPECT_GT(audio.path().captureFifo().count(), 0);
}

TEST_F(VoiceAudioTest, EncoderStepTakesWholeProcessedFrames) {
    ASSERT_EQ(audio.audioSetup(32000, 320, 0), 2);
    audio.setLastVoiceReceive(1);
    std::vector<float> in = qeltest::multiTone(32000, 0.1);
    uint8_t out[1000];
    qeltest::runBuffer(audio, in.data(), 320, nullptr);
    EXPECT_EQ(audio.path().captureFifo().done(), 320);
    EXPECT_EQ(audio.encodeStep(out), qel::AudioPath::kNoFrame);  // half a frame: nothing
    qeltest::runBuffer(audio, in.data() + 320, 320, nullptr);
    qeltest::runBuffer(audio, in.data() + 640, 320, nullptr);
    ASSERT_EQ(audio.path().captureFifo().done(), 960);
    const int16_t next = audio.path().captureFifo().data()[640];
    const int bytes = audio.encodeStep(out);
    EXPECT_GT(bytes, 100);  // 64 kbit/s: about 160 bytes a frame
    EXPECT_LE(bytes, 1000);
    EXPECT_EQ(audio.path().captureFifo().done(), 320);
    EXPECT_EQ(audio.path().captureFifo().count(), 320);
    EXPECT_EQ(audio.path().captureFifo().data()[0], next);  // remainder moved to the front
}

TEST_F(VoiceAudioTest, ReceiveStepChecksLengthAndQueues) {
    uint8_t payload[64] = {};
    // Before the first audioSetup there is no jitter buffer: dropped.
    EXPECT_FALSE(audio.receiveStep(payload, 20));
    ASSERT_EQ(audio.audioSetup(48000, 512, 0), 2);
    EXPECT_FALSE(audio.receiveStep(payload, 9));
    EXPECT_TRUE(audio.receiveStep(payload, 10));  // a 2-byte frame
    EXPECT_EQ(log.count("recv_rtp(9)"), 1);
    EXPECT_EQ(log.count("recv_rtp(10)"), 1);
}

TEST_F(VoiceAudioTest, StatisticsLineOnEveryFiftiethPacket) {
    ASSERT_EQ(audio.audioSetup(48000, 512, 0), 2);
    uint8_t payload[40] = {};
    for (int i = 1; i <= 120; ++i) {
        payload[4] = static_cast<uint8_t>(i);
        payload[5] = static_cast<uint8_t>(i >> 8);
        audio.onAudioPacket(payload, sizeof payload, 1000);
        if (i == 1) {
            EXPECT_EQ(log.count("jb="), 0);
        }
        if (i == 50) {
            EXPECT_EQ(log.count("jb="), 1);
        }
    }
    EXPECT_EQ(log.count("jb="), 2);
    for (const auto& l : log.lines()) {
        if (l.text.rfind("jb=", 0) == 0) {
            EXPECT_EQ(l.level, 4);
            EXPECT_NE(l.text.find(", rx=50 tx=0 @ 0.0Hz, nl="), std::string::npos) << l.text;
            EXPECT_EQ(l.text.find("nan"), std::string::npos) << l.text;
            EXPECT_EQ(l.text.find("inf"), std::string::npos) << l.text;
        }
    }
    EXPECT_EQ(audio.lastVoiceReceive(), 1000u);
}

TEST_F(VoiceAudioTest, ResetClosesTheGateAndEmptiesThePath) {
    ASSERT_EQ(audio.audioSetup(48000, 512, 0), 2);
    audio.setLastVoiceReceive(5);
    std::vector<float> in(512, 0.2f);
    qeltest::runBuffer(audio, in.data(), 512, nullptr);
    ASSERT_GT(audio.path().captureFifo().count(), 0);
    audio.reset();
    EXPECT_EQ(audio.lastVoiceReceive(), 0u);
    EXPECT_EQ(audio.path().captureFifo().count(), 0);
    EXPECT_EQ(audio.path().playbackFifo().count(), 0);
    EXPECT_EQ(audio.deviceRate(), 48000);  // format kept
}

// The processing module's output for 1 s of a far-end tone and a near-end mix of its
// echo and a second tone, block by block.
std::vector<int16_t> processedSecond(qel::AudioProcessor& processor, double nearHz) {
    std::vector<int16_t> out;
    std::vector<int16_t> far(qel::AudioProcessor::kBlockSamples);
    std::vector<int16_t> near(qel::AudioProcessor::kBlockSamples);
    for (int block = 0; block < 100; ++block) {
        for (int i = 0; i < qel::AudioProcessor::kBlockSamples; ++i) {
            const double t = (block * qel::AudioProcessor::kBlockSamples + i) / 32000.0;
            far[static_cast<size_t>(i)] = static_cast<int16_t>(8000 * std::sin(2 * std::numbers::pi * 440 * t));
            near[static_cast<size_t>(i)] = static_cast<int16_t>(
                2000 * std::sin(2 * std::numbers::pi * 440 * (t - 0.01)) + 6000 * std::sin(2 * std::numbers::pi * nearHz * t));
        }
        processor.analyzeReverse(far.data());
        processor.process(near.data(), 10);
        out.insert(out.end(), near.begin(), near.end());
    }
    return out;
}

// A reset leaves an unused module alone and starts a used one afresh: either way the
// same audio then comes out as from a new module.
TEST(AudioProcessorReset, ModuleAfterResetProcessesAsANewOne) {
    qel::AudioProcessor fresh;
    fresh.reset(true, true, true);
    const std::vector<int16_t> expected = processedSecond(fresh, 1000);

    qel::AudioProcessor used;
    used.reset(true, true, true);
    processedSecond(used, 300);  // echo path, gain and noise estimates of another signal
    used.reset(true, true, true);
    EXPECT_EQ(processedSecond(used, 1000), expected);

    qel::AudioProcessor unused;
    unused.reset(true, true, true);
    unused.reset(true, true, true);
    unused.reset(true, true, true);
    EXPECT_EQ(processedSecond(unused, 1000), expected);
}

}  // namespace
