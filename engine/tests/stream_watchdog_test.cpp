// The call thread's watch over the call stream, on the PortAudio double and the real
// session library, with the time handed in: a stream that has ended is closed and
// opened again once a device can be, on the devices the host chose or else on the
// defaults, with the new format told to the session.
#include <gtest/gtest.h>

#include <future>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "engine/call_stream.h"
#include "engine/device_rescan.h"
#include "engine/session_api.h"
#include "engine/stream_watchdog.h"
#include "engine/tests/portaudio_double.h"
#include "engine/tests/session_log.h"

namespace tallix {
namespace {

using testing::DoubleDevice;
using testing::PortAudioDouble;
using testing::SessionLog;

class StreamWatchdogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        pa.devices = {{"Mic", 1, 0, 48000}, {"Speakers", 0, 2, 44100}, {"Headset", 1, 1, 48000}};
        pa.defaultInput = 0;
        pa.defaultOutput = 1;
        client = binding.bind(QEL_LIBRARY_PATH);
        ASSERT_NE(client, nullptr);
        binding.api().loglevel(client, 4);
        streams.setSession(&binding.api(), client);
    }
    void TearDown() override {
        streams.close();
        EXPECT_EQ(pa.references, 0);
        if (client != nullptr) {
            binding.api().freeClient(client);
        }
    }
    // One device buffer through the stream's callback, as PortAudio's thread runs it.
    void buffer() {
        float input[512] = {};
        float output[512];
        ASSERT_EQ(pa.callback(input, output, 512, nullptr, 0, pa.userData), paContinue);
    }
    bool sessionLogged(const std::string& needle) {
        for (int walk = 0; walk < 2; ++walk) {
            while (const LogWalkEntry* e = binding.api().logwalk(client)) {
                m_sessionLines.emplace_back(e->text);
            }
        }
        for (const std::string& line : m_sessionLines) {
            if (line.find(needle) != std::string::npos) {
                return true;
            }
        }
        return false;
    }
    size_t openings() const { return pa.openedRates.size(); }
    CallStreamState state() const { return streams.health().state; }

    PortAudioDouble pa;
    SessionLog log;
    AudioControls controls;
    DeviceRegistry registry{pa.api(), log.log()};
    StreamSlots slots;
    CallStreams streams{slots, registry, log.log(), controls};
    StreamWatchdog watchdog{streams};
    SoundPlayer sounds{slots, registry, log.log()};
    DeviceRescan rescan{slots, registry, log.log(), streams, sounds};
    SessionBinding binding;
    QelClient* client = nullptr;
    std::vector<std::string> m_sessionLines;
};

// A stream that stops calling back is caught on the sound server (sound_fault_test);
// here the end signal, the fall-back to the defaults and a rate change.
TEST_F(StreamWatchdogTest, EndedStreamReopensOnTheDefaultsOrOnTheDevicesChosenMeanwhile) {
    ASSERT_EQ(streams.open("Headset", "Headset"), Result::ok);
    uint32_t now = 0xFFFFFF00u;  // the clock wraps during the test
    watchdog.check(now);
    buffer();
    watchdog.check(now += 500);
    EXPECT_TRUE(streams.callOpen());

    // The headset is unplugged: its stream ends, and nothing can be opened for now.
    const DoubleDevice headset = pa.devices.back();
    pa.devices.pop_back();
    pa.openError = paDeviceUnavailable;
    pa.finish();
    watchdog.check(now += 10);
    EXPECT_EQ(streams.health().state, CallStreamState::lost);
    EXPECT_FALSE(streams.callOpen());
    EXPECT_TRUE(log.contains(
        "2|Audio stream lost its device (the stream ended by itself) - the call goes on"));
    // At once a first attempt: the headset is gone, the defaults fail to open.
    EXPECT_EQ(openings(), 2u);
    EXPECT_EQ(pa.references, 0) << "each attempt initialises PortAudio afresh";
    EXPECT_TRUE(log.contains("2|Failed to find input device [Headset]"));
    EXPECT_TRUE(log.contains("1|Error while creating audio stream: double error"));
    watchdog.check(now += StreamWatchdog::kRetryMs - 1);
    EXPECT_EQ(openings(), 2u) << "not before the retry interval";
    log.take();
    watchdog.check(now += 1);
    EXPECT_EQ(openings(), 3u);
    EXPECT_TRUE(log.take().empty()) << "a retry that fails as the first did says nothing";
    // Each retry waits twice as long as the one before, up to kMaxRetryMs: attempts at
    // 250, 750, 1750, 3750, 7750 and 11750 ms after the first.
    uint32_t since = StreamWatchdog::kRetryMs;
    for (uint32_t next : {750u, 1750u, 3750u, 7750u, 11750u}) {
        const size_t before = openings();
        watchdog.check(now += next - since - 1);
        EXPECT_EQ(openings(), before) << next;
        watchdog.check(now += 1);
        EXPECT_EQ(openings(), before + 1) << next;
        since = next;
    }

    // The defaults open again, the speakers at 44.1 kHz: the session hears of the rate.
    pa.openError = paNoError;
    watchdog.check(now += StreamWatchdog::kMaxRetryMs);
    ASSERT_TRUE(streams.callOpen());
    EXPECT_EQ(streams.health().state, CallStreamState::running);
    EXPECT_EQ(pa.openedDevices.back(), 1);
    EXPECT_EQ(pa.references, 1);
    EXPECT_TRUE(
        log.contains("4|Audio Sample Rate Changed - Sample Rate: 44100, Frame Samples: 512"));
    EXPECT_TRUE(log.contains(
        "3|Audio stream reopened after losing its device, on input: [Mic] output: [Speakers]"));
    EXPECT_TRUE(sessionLogged("Audio setup: 44100 Hz, 512 frames"));

    // Lost again; the user picks the headset, plugged in again, while the call has no
    // stream: it opens there, at its own 48 kHz.
    pa.openError = paDeviceUnavailable;
    pa.finish();
    watchdog.check(now += 10);
    ASSERT_EQ(streams.health().state, CallStreamState::lost);
    pa.devices.push_back(headset);
    EXPECT_EQ(streams.changeDevices("Headset", "Headset", false), Result::ok);
    EXPECT_FALSE(streams.callOpen());
    pa.openError = paNoError;
    watchdog.check(now += StreamWatchdog::kRetryMs);
    ASSERT_TRUE(streams.callOpen()) << "a stream lost anew starts again at the first interval";
    EXPECT_EQ(pa.openedDevices.back(), 2);
    EXPECT_TRUE(sessionLogged("Audio setup: 48000 Hz, 512 frames"));

    // A host that closes the stream (its call ends) leaves it closed.
    const size_t opened = openings();
    streams.close();
    watchdog.check(now += StreamWatchdog::kStallMs);
    watchdog.check(now += StreamWatchdog::kStallMs);
    EXPECT_EQ(openings(), opened);
    EXPECT_FALSE(streams.callOpen());
}

// A rescan closes the call stream and opens it again. However it fails, the stream is
// left running or lost, never restarting (which nothing ends): the watchdog then opens
// it again once PortAudio works.
TEST_F(StreamWatchdogTest, ARescanThatFailsAtAnyStepLeavesTheStreamForTheWatchdog) {
    uint32_t now = 1000;
    struct Step {
        const char* name;
        std::function<void()> fail;
    };
    const Step steps[] = {
        {"giving back the library", [&] { pa.terminateError = paNotInitialized; }},
        {"taking the library again",
         [&] { pa.onInitialize = [&] { pa.initializeError = paDeviceUnavailable; }; }},
        {"listing the devices",
         [&] { pa.onInitialize = [&] { pa.hostDeviceCount = paInternalError; }; }},
        {"opening the stream", [&] { pa.openError = paDeviceUnavailable; }},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        ASSERT_EQ(streams.open("Headset", "Headset"), Result::ok);
        watchdog.check(now += 10);
        step.fail();
        EXPECT_NE(rescan.rescan(true), Result::ok);
        EXPECT_EQ(state(), CallStreamState::lost);
        EXPECT_FALSE(streams.callOpen());
        pa.terminateError = paNoError;
        pa.onInitialize = nullptr;
        pa.initializeError = paNoError;
        pa.hostDeviceCount = 0;
        pa.openError = paNoError;
        watchdog.check(now += 10);
        EXPECT_EQ(state(), CallStreamState::running);
        EXPECT_EQ(pa.openedDevices.back(), 2);
        EXPECT_EQ(pa.references, 1);
        streams.close();
    }
}

// What happens to the call stream while a rescan has it closed.
TEST_F(StreamWatchdogTest, ARescanHonoursTheCallsEndTheNewRateAndTheUsersChoice) {
    // The call ends while the rescan is under way: no stream may outlive it.
    ASSERT_EQ(streams.open("Headset", "Headset"), Result::ok);
    size_t opened = openings();
    // What a Java thread does, on a thread of its own, while the rescan's thread is
    // inside PortAudio.
    auto meanwhile = [](auto call) { std::async(std::launch::async, call).wait(); };
    bool ended = false;
    pa.onInitialize = [&] {
        if (!std::exchange(ended, true)) {
            meanwhile([&] { streams.close(); });
        }
    };
    EXPECT_EQ(rescan.rescan(true), Result::ok);
    pa.onInitialize = nullptr;
    EXPECT_EQ(openings(), opened);
    EXPECT_FALSE(streams.callOpen());
    EXPECT_EQ(state(), CallStreamState::closed);
    EXPECT_EQ(pa.references, 0);

    // The device comes back at another rate: the session converts at the new one.
    ASSERT_EQ(streams.open("Headset", "Headset"), Result::ok);
    EXPECT_TRUE(sessionLogged("Audio setup: 48000 Hz, 512 frames"));
    pa.onInitialize = [&] { pa.devices[2].defaultRate = 44100; };
    EXPECT_EQ(rescan.rescan(true), Result::ok);
    pa.onInitialize = nullptr;
    EXPECT_EQ(streams.figures().sampleRate, 44100);
    EXPECT_TRUE(sessionLogged("Audio setup: 44100 Hz, 512 frames"));
    EXPECT_TRUE(
        log.contains("4|Audio Sample Rate Changed - Sample Rate: 44100, Frame Samples: 512"));
    // At the same rate the session hears nothing.
    log.take();
    EXPECT_EQ(rescan.rescan(true), Result::ok);
    EXPECT_EQ(state(), CallStreamState::running);
    for (const std::string& line : log.take()) {
        EXPECT_EQ(line.find("Sample Rate Changed"), std::string::npos) << line;
    }

    // The user picks other devices while the rescan has the stream closed: they are
    // the ones that open.
    bool picked = false;
    pa.onInitialize = [&] {
        if (!std::exchange(picked, true)) {
            meanwhile([&] { EXPECT_EQ(streams.changeDevices("Mic", "Speakers", false), Result::ok); });
        }
    };
    EXPECT_EQ(rescan.rescan(true), Result::ok);
    pa.onInitialize = nullptr;
    EXPECT_EQ(state(), CallStreamState::running);
    EXPECT_EQ(pa.openedDevices.back(), 1);
    EXPECT_EQ(pa.references, 1);
}

// A device switch whose devices cannot be opened leaves the call's stream lost, and the
// watchdog opens the user's choice once it can.
TEST_F(StreamWatchdogTest, AFailedDeviceSwitchIsRetriedByTheWatchdog) {
    ASSERT_EQ(streams.open(nullptr, nullptr), Result::ok);
    watchdog.check(1000);
    pa.openError = paDeviceUnavailable;
    EXPECT_EQ(streams.changeDevices("Headset", "Headset", false), Result::failed);
    EXPECT_EQ(state(), CallStreamState::lost);
    EXPECT_EQ(pa.references, 0);
    pa.openError = paNoError;
    watchdog.check(1010);
    EXPECT_EQ(state(), CallStreamState::running);
    EXPECT_EQ(pa.openedDevices.back(), 2);
    EXPECT_TRUE(sessionLogged("Audio setup: 48000 Hz, 512 frames"));
}

// An attempt to reopen a lost stream on a driver that takes its time listing devices:
// ending the call or switching devices meanwhile does not wait for it, and the attempt
// then opens nothing for a call that has ended.
TEST_F(StreamWatchdogTest, EndingTheCallDoesNotWaitForAReopeningAttempt) {
    ASSERT_EQ(streams.open("Headset", "Headset"), Result::ok);
    watchdog.check(1000);
    pa.openError = paDeviceUnavailable;
    pa.finish();
    watchdog.check(1010);
    ASSERT_EQ(state(), CallStreamState::lost);
    pa.openError = paNoError;

    std::promise<void> entered;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    bool once = false;
    pa.onInitialize = [&] {
        if (!std::exchange(once, true)) {
            entered.set_value();
            released.wait();
        }
    };
    std::thread callThread([&] { watchdog.check(1010 + StreamWatchdog::kRetryMs); });
    entered.get_future().wait();
    // The Java threads' calls, while the attempt is inside PortAudio.
    auto javaThread = std::async(std::launch::async, [&] {
        EXPECT_EQ(streams.changeDevices("Mic", "Speakers", false), Result::ok);
        streams.close();
    });
    const bool waited = javaThread.wait_for(std::chrono::seconds(3)) != std::future_status::ready;
    release.set_value();
    callThread.join();
    javaThread.wait();
    EXPECT_FALSE(waited) << "_changeAudioDevices or _endCall waited for the attempt";
    EXPECT_FALSE(streams.callOpen());
    EXPECT_EQ(state(), CallStreamState::closed);
    EXPECT_EQ(pa.references, 0);
}

}  // namespace
}  // namespace tallix
