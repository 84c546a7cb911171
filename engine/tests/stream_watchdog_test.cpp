// The call thread's watch over the call stream, on the PortAudio double and the real
// session library, with the time handed in: a stream that has ended is closed and
// opened again once a device can be, on the devices the host chose or else on the
// defaults, with the new format told to the session.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/call_stream.h"
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

    PortAudioDouble pa;
    SessionLog log;
    AudioControls controls;
    DeviceRegistry registry{pa.api(), log.log()};
    StreamSlots slots;
    CallStreams streams{slots, registry, log.log(), controls};
    StreamWatchdog watchdog{streams};
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

    // The defaults open again, the speakers at 44.1 kHz: the session hears of the rate.
    pa.openError = paNoError;
    watchdog.check(now += StreamWatchdog::kRetryMs);
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
    ASSERT_TRUE(streams.callOpen());
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

}  // namespace
}  // namespace tallix
