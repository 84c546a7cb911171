// The call stream's opening on the PortAudio double: the exclusive-mode fall-back
// that only a Windows host API offers, the result codes, the library reference given
// back on every failure, and what the audio callback passes on.
#include <gtest/gtest.h>

#include "engine/call_stream.h"
#include "engine/tests/portaudio_double.h"
#include "engine/tests/session_log.h"

namespace tallix {
namespace {

using testing::PortAudioDouble;
using testing::SessionLog;

class CallStreamTest : public ::testing::Test {
  protected:
    void SetUp() override {
        pa.devices = {{"Mic", 1, 0, 44100}, {"Speakers", 0, 2, 48000}, {"Headset", 1, 1, 48000}};
        pa.defaultInput = 0;
        pa.defaultOutput = 1;
    }
    PortAudioDouble pa;
    SessionLog log;
    AudioControls controls;
    DeviceRegistry registry{pa.api(), log.log()};
    StreamSlots slots;
    CallStreams streams{slots, registry, log.log(), controls};
};

TEST_F(CallStreamTest, OpensAtTheOutputRateAndKeepsOneReferenceUntilClosed) {
    ASSERT_EQ(streams.open(nullptr, "Headset|02|01|01"), Result::ok);
    EXPECT_EQ(pa.openedRates, std::vector<double>{48000});
    EXPECT_EQ(pa.references, 1);
    EXPECT_EQ(streams.figures().sampleRate, 48000);
    EXPECT_EQ(streams.figures().framesPerBuffer, 512);
    EXPECT_EQ(streams.open(nullptr, nullptr), Result::busy);
    EXPECT_EQ(pa.references, 1);
    streams.close();
    EXPECT_EQ(pa.references, 0);
    EXPECT_EQ(pa.openStreams, 0);
    EXPECT_EQ(streams.figures().sampleRate, -1);
    EXPECT_TRUE(log.contains(
        "3|Start audio request with devices input: [default] output: [Headset|02|01|01]"));
    EXPECT_TRUE(log.contains("3|Using audio devices input: [Mic] output: [Headset]"));
    EXPECT_TRUE(log.contains("4|Audio Setup - Sample Rate: 48000, Frame Samples: 512"));
}

TEST_F(CallStreamTest, RateMismatchFallsBackToExclusiveModeTrying48000First) {
    pa.openError = paInvalidDevice;
    pa.supportedExclusiveRates = {44100, 48000, 16000};
    ASSERT_EQ(streams.open(nullptr, nullptr), Result::ok);
    EXPECT_EQ(pa.formatQueries, std::vector<int>{48000});
    ASSERT_EQ(pa.openedExclusive, (std::vector<bool>{false, true}));
    EXPECT_EQ(pa.openedRates.back(), 48000);
    EXPECT_TRUE(log.contains("3|Grabbed audio devices in exclusive mode at 48kHz"));
    streams.close();
    EXPECT_EQ(pa.references, 0);

    pa.supportedExclusiveRates = {11025};
    ASSERT_EQ(streams.open(nullptr, nullptr), Result::ok);
    EXPECT_EQ(pa.openedRates.back(), 11025);
    EXPECT_TRUE(log.contains("3|Grabbed audio devices in exclusive mode at 11kHz"));
    streams.close();
}

TEST_F(CallStreamTest, NoCommonExclusiveRateIsCodeFourWithEveryRateTriedInOrder) {
    pa.openError = paInvalidDevice;
    EXPECT_EQ(streams.open(nullptr, nullptr), Result::noCommonRate);
    EXPECT_EQ(pa.formatQueries, (std::vector<int>{48000, 44100, 32000, 22050, 16000, 11025, 8000}));
    EXPECT_EQ(pa.references, 0);
    EXPECT_FALSE(streams.callOpen());
    EXPECT_TRUE(
        log.contains("1|Failed to find a sample rate that works for input & output devices"));
}

TEST_F(CallStreamTest, FailingExclusiveOpenIsCodeFive) {
    pa.openError = paInvalidDevice;
    pa.supportedExclusiveRates = {32000};
    pa.exclusiveOpenError = paDeviceUnavailable;
    EXPECT_EQ(streams.open(nullptr, nullptr), Result::exclusiveFailed);
    EXPECT_EQ(pa.references, 0);
    EXPECT_FALSE(streams.callOpen());
    EXPECT_TRUE(log.contains("1|Failed to create audio streams in exclusive mode: double error"));
}

TEST_F(CallStreamTest, NoExclusiveAttemptWithEqualRatesOrWithoutAnExclusiveMode) {
    pa.openError = paInvalidDevice;
    EXPECT_EQ(streams.open("Headset", "Speakers"), Result::failed);  // both 48000
    EXPECT_TRUE(pa.formatQueries.empty());
    pa.exclusiveMode = false;  // as on ALSA: a mismatch ends in code 3
    EXPECT_EQ(streams.open(nullptr, nullptr), Result::failed);
    EXPECT_TRUE(pa.formatQueries.empty());
    EXPECT_EQ(pa.references, 0);
    EXPECT_TRUE(log.contains("1|Error while creating audio stream: double error"));
}

TEST_F(CallStreamTest, EveryFailurePathGivesItsReferenceBack) {
    struct Case {
        const char* in;
        const char* out;
        Result expected;
    };
    const Case cases[] = {
        {"Nobody", nullptr, Result::deviceNotFound},
        {nullptr, "Nobody", Result::deviceNotFound},
        {"Speakers", nullptr, Result::deviceNotFound},  // no input channel
        {nullptr, "Mic", Result::deviceNotFound},       // no output channel
    };
    for (const Case& c : cases) {
        EXPECT_EQ(streams.open(c.in, c.out), c.expected)
            << (c.in ? c.in : "-") << " " << (c.out ? c.out : "-");
        EXPECT_EQ(pa.references, 0);
    }
    EXPECT_TRUE(log.contains("2|Failed to find input device [Nobody]"));
    EXPECT_TRUE(log.contains("1|Selected output device doesn't support output"));

    pa.startError = paDeviceUnavailable;
    EXPECT_EQ(streams.open(nullptr, nullptr), Result::failed);
    EXPECT_EQ(pa.references, 0);
    EXPECT_EQ(pa.openStreams, 0);
    EXPECT_TRUE(log.contains("1|Error while starting audio stream: double error"));

    pa.startError = paNoError;
    pa.hostDeviceCount = paInternalError;
    EXPECT_EQ(streams.open(nullptr, nullptr), Result::failed);
    EXPECT_EQ(pa.references, 0);

    pa.hostDeviceCount = 0;
    pa.devices.clear();
    pa.defaultInput = pa.defaultOutput = -1;
    EXPECT_EQ(streams.open(nullptr, nullptr), Result::deviceNotFound);
    EXPECT_EQ(pa.references, 0);

    pa.initializeError = paInsufficientMemory;
    EXPECT_EQ(streams.open(nullptr, nullptr), Result::failed);
    EXPECT_EQ(pa.references, 0);
}

TEST_F(CallStreamTest, DeviceSwitchWithoutACallOnlyChangesLoopback) {
    EXPECT_EQ(streams.changeDevices("Nobody", "Nobody", true), Result::ok);
    EXPECT_TRUE(controls.loopbackMode.load());
    EXPECT_TRUE(pa.openedRates.empty());
}

TEST_F(CallStreamTest, DeviceSwitchDuringACallReopensAndReportsAMissingDevice) {
    ASSERT_EQ(streams.open(nullptr, nullptr), Result::ok);
    log.take();
    ASSERT_EQ(streams.changeDevices("Headset", "Headset", false), Result::ok);
    EXPECT_EQ(pa.references, 1);
    EXPECT_FALSE(log.contains("Audio Sample Rate Changed"));  // 48000 both times
    EXPECT_EQ(streams.changeDevices("Nobody", nullptr, false), Result::deviceNotFound);
    EXPECT_FALSE(streams.callOpen());
    EXPECT_EQ(pa.references, 0);
}

TEST_F(CallStreamTest, CallbackWritesSilenceUntilTheCallIsConnected) {
    ASSERT_EQ(streams.open(nullptr, nullptr), Result::ok);
    float input[512];
    float output[2 * 512];  // the default output is a stereo WASAPI device
    std::fill(std::begin(input), std::end(input), 0.5f);
    std::fill(std::begin(output), std::end(output), 7.0f);
    EXPECT_EQ(pa.callback(input, output, 512, nullptr, 0, pa.userData), paContinue);
    for (float sample : output) {
        ASSERT_EQ(sample, 0.0f);
    }
    streams.close();
}

// A stand-in for the session library's audioIO that plays a ramp, so that where the
// voice lands in the device buffer can be seen.
int rampAudioIO(QelClient*, const float* const*, int, float, float* const* out, int outputs, float) {
    for (int c = 0; c < outputs; ++c) {
        for (int i = 0; i < 512; ++i) {
            out[c][i] = static_cast<float>(i + 1) / 1024;
        }
    }
    return 1;
}

TEST_F(CallStreamTest, VoiceGoesToBothChannelsOfAStereoWasapiDevice) {
    SessionApi ramp{};
    ramp.audioIO = &rampAudioIO;
    ramp.audioSetup = [](QelClient*, int, int, int) { return 1; };
    streams.setSession(&ramp, nullptr);
    controls.callInProgress = true;
    // A stereo device gets a stereo stream, the voice in both channels of every frame.
    ASSERT_EQ(streams.open(nullptr, nullptr), Result::ok);
    float input[512] = {};
    float output[2 * 512];
    std::fill(std::begin(output), std::end(output), 7.0f);
    EXPECT_EQ(pa.callback(input, output, 512, nullptr, 0, pa.userData), paContinue);
    for (int i = 0; i < 512; ++i) {
        ASSERT_EQ(output[2 * i], static_cast<float>(i + 1) / 1024) << i;
        ASSERT_EQ(output[2 * i + 1], output[2 * i]) << i;
    }
    streams.close();
    // A mono device keeps its one channel, written in place.
    ASSERT_EQ(streams.open(nullptr, "Headset"), Result::ok);
    float mono[512 + 1];
    mono[512] = 7.0f;
    EXPECT_EQ(pa.callback(input, mono, 512, nullptr, 0, pa.userData), paContinue);
    EXPECT_EQ(mono[511], 512.0f / 1024);
    EXPECT_EQ(mono[512], 7.0f);
    streams.close();
    EXPECT_EQ(pa.openedOutputChannels, (std::vector<int>{2, 1}));
}

// The real session library behind the stream: what the audio callback and the stream's
// announcement hand it.
class CallStreamSessionTest : public CallStreamTest {
  protected:
    void SetUp() override {
        CallStreamTest::SetUp();
        client = binding.bind(QEL_LIBRARY_PATH);
        ASSERT_NE(client, nullptr);
        binding.api().loglevel(client, 4);
    }
    void TearDown() override {
        streams.close();
        if (client != nullptr) {
            binding.api().freeClient(client);
        }
    }
    std::vector<std::string> sessionLog() {
        std::vector<std::string> lines;
        for (int walk = 0; walk < 2; ++walk) {
            while (const LogWalkEntry* e = binding.api().logwalk(client)) {
                lines.emplace_back(e->text);
            }
        }
        return lines;
    }
    SessionBinding binding;
    QelClient* client = nullptr;
};

TEST_F(CallStreamSessionTest, EchoDelayIsTheStreamsInputPlusOutputLatency) {
    // The double reports 20 ms of input and 30 ms of output latency: 2,400 samples at
    // 48 kHz, which the echo canceller receives as a 50 ms delay.
    streams.setSession(&binding.api(), client);
    ASSERT_EQ(streams.open(nullptr, nullptr), Result::ok);
    const StreamFigures figures = streams.figures();
    EXPECT_EQ(latencySamples(figures), 2400);
    bool seen = false;
    for (const std::string& line : sessionLog()) {
        seen = seen || line.find("Audio setup: 48000 Hz, 512 frames, latency 2400 samples, echo delay "
                                 "50 ms") != std::string::npos;
    }
    EXPECT_TRUE(seen);

    // A device switch to another rate announces the new stream's figure the same way.
    streams.close();
    pa.devices[1].defaultRate = 44100;
    ASSERT_EQ(streams.open(nullptr, nullptr), Result::ok);
    ASSERT_EQ(streams.changeDevices(nullptr, "Headset", false), Result::ok);
    seen = false;
    for (const std::string& line : sessionLog()) {
        seen = seen || line.find("Audio setup: 48000 Hz, 512 frames, latency 2400 samples") !=
                           std::string::npos;
    }
    EXPECT_TRUE(seen);
}

TEST_F(CallStreamSessionTest, LoopbackModeWritesSilenceAndLeavesTheSessionAlone) {
    streams.setSession(&binding.api(), client);
    ASSERT_EQ(streams.open(nullptr, nullptr), Result::ok);
    controls.callInProgress = true;
    controls.loopbackMode = true;
    float input[512];
    float output[2 * 512];  // the default output is a stereo WASAPI device
    std::fill(std::begin(input), std::end(input), 0.5f);
    std::fill(std::begin(output), std::end(output), 7.0f);
    EXPECT_EQ(pa.callback(input, output, 512, nullptr, 0, pa.userData), paContinue);
    for (float sample : output) {
        ASSERT_EQ(sample, 0.0f);
    }
    // Out of loopback the same buffer goes through audioIO, whose closed gate (no voice
    // heard yet) also plays silence.
    controls.loopbackMode = false;
    std::fill(std::begin(output), std::end(output), 7.0f);
    EXPECT_EQ(pa.callback(input, output, 512, nullptr, 0, pa.userData), paContinue);
    EXPECT_EQ(output[0], 0.0f);
}

}  // namespace
}  // namespace tallix
