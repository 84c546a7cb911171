// What a sound device that stays away costs a call on a slow driver. The call stream
// loses its device and nothing can be opened for 30 s; PortAudio takes kInitialiseMs
// to start (and list the hardware) each time. Meanwhile the call thread runs its 20 ms
// poll steps with the watchdog's reopening attempts between them, and a Java thread
// calls _changeAudioDevices every few tens of milliseconds (the same choice, so that
// nothing changes). Then ten calls lose their device and end (_endCall closes the
// stream) at a moment of chance while it is away.
//
// Printed: the hardware scans the attempts made, the longest a poll step came late,
// and the longest the Java thread's calls and the _endCall waited.
//   reopen_wait_bench [SECONDS [SEED]]
//
// PortAudio is the tests' double (no driver here is slow on purpose), behind a table
// whose initialise sleeps first when it takes the first reference.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <thread>

#include "engine/call_stream.h"
#include "engine/stream_watchdog.h"
#include "engine/tests/portaudio_double.h"
#include "platform/clock.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t kInitialiseMs = 400;
constexpr int kAwaySeconds = 30;

const tallix::testing::PortAudioDouble* g_double = nullptr;
tallix::PortAudioApi g_slow;
const tallix::PortAudioApi* g_real = nullptr;
std::atomic<int> g_initialisations{0};

// Slow only where PortAudio really scans the hardware: when its first reference is
// taken. Further references only count.
PaError slowInitialise() {
    if (g_double->references == 0) {
        g_initialisations.fetch_add(1);
        platform::sleepMs(kInitialiseMs);
    }
    return g_real->initialize();
}

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : kAwaySeconds;
    const unsigned seed = argc > 2 ? static_cast<unsigned>(std::atoi(argv[2])) : 1;
    using namespace tallix;
    testing::PortAudioDouble pa;
    const testing::DoubleDevice headset{"Headset", 1, 1, 48000};
    pa.devices = {{"Mic", 1, 0, 48000}, {"Speakers", 0, 2, 48000}};
    pa.defaultInput = 0;
    pa.defaultOutput = 1;
    g_double = &pa;
    g_real = &pa.api();
    g_slow = pa.api();
    g_slow.initialize = &slowInitialise;

    EngineLog log;  // no log manager: every message is dropped
    AudioControls controls;
    DeviceRegistry registry{g_slow, log};
    StreamSlots slots;
    CallStreams streams{slots, registry, log, controls};
    StreamWatchdog watchdog{streams};

    // A call on the headset, which is then unplugged while the sound server is gone:
    // nothing opens until the call ends.
    auto loseTheHeadset = [&] {
        pa.devices.push_back(headset);
        pa.openError = paNoError;
        if (streams.open("Headset", "Headset") != Result::ok) {
            return false;
        }
        watchdog.check(platform::nowMs());
        pa.devices.pop_back();
        pa.openError = paDeviceUnavailable;
        pa.finish();
        watchdog.check(platform::nowMs());  // closes the stream and makes a first attempt
        return streams.health().state == CallStreamState::lost;
    };
    // The call thread: a poll step every 20 ms, the watchdog between two of them.
    // Returns the longest a step's poll came after it was due.
    auto callThread = [&](const std::atomic<bool>& stop) {
        double worst = 0.0;
        auto due = Clock::now();
        while (!stop.load()) {
            watchdog.check(platform::nowMs());
            worst = std::max(worst, std::chrono::duration<double, std::milli>(Clock::now() - due).count());
            due += std::chrono::milliseconds(20);
            std::this_thread::sleep_until(std::max(due, Clock::now()));
            if (Clock::now() - due > std::chrono::milliseconds(20)) {
                due = Clock::now();  // steps that came late are not made up for
            }
        }
        return worst;
    };

    if (!loseTheHeadset()) {
        std::fprintf(stderr, "reopen_wait_bench: the call stream did not open\n");
        return 1;
    }
    const int before = g_initialisations.load();
    std::atomic<bool> stop{false};
    double worstStep = 0.0;
    std::thread call([&] { worstStep = callThread(stop); });
    // A Java thread's _changeAudioDevices (the same choice) every few tens of ms.
    double worstChange = 0.0;
    int changes = 0;
    const auto begin = Clock::now();
    while (Clock::now() - begin < std::chrono::seconds(seconds)) {
        const auto start = Clock::now();
        (void)streams.changeDevices("Headset", "Headset", false);
        worstChange = std::max(worstChange, msSince(start));
        ++changes;
        platform::sleepMs(37);
    }
    stop.store(true);
    call.join();
    const int scans = g_initialisations.load() - before;
    streams.close();

    // _endCall at a moment of chance while the device is away, ten times.
    std::mt19937 random(seed);
    double worstEnd = 0.0;
    for (int trial = 0; trial < 10; ++trial) {
        if (!loseTheHeadset()) {
            return 1;
        }
        std::atomic<bool> ended{false};
        std::thread trialCall([&] { (void)callThread(ended); });
        platform::sleepMs(std::uniform_int_distribution<uint32_t>(100, 3000)(random));
        const auto start = Clock::now();
        streams.close();
        worstEnd = std::max(worstEnd, msSince(start));
        ended.store(true);
        trialCall.join();
    }

    std::printf("device away %d s, PortAudio initialise %u ms, seed %u\n", seconds, kInitialiseMs,
                seed);
    std::printf("  hardware scans by reopening attempts: %d\n", scans);
    std::printf("  poll step late, worst: %.0f ms\n", worstStep);
    std::printf("  _changeAudioDevices wait, worst of %d: %.0f ms\n", changes, worstChange);
    std::printf("  _endCall wait, worst of 10: %.0f ms\n", worstEnd);
    return 0;
}
