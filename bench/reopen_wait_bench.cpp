// What a sound device that stays away costs a call on a slow driver. The call stream
// loses its device and nothing can be opened for 30 s; PortAudio takes kInitialiseMs
// to start (and list the hardware) each time. Meanwhile the call thread runs its 20 ms
// poll steps with the watchdog's reopening attempts between them, and a Java thread
// calls _changeAudioDevices every few tens of milliseconds (the same choice, so that
// nothing changes). At the end the call ends (_endCall closes the stream).
//
// Printed: the reopening attempts made, the longest a poll step came late, and the
// longest the Java thread's calls and the final _endCall waited.
//
// PortAudio is the tests' double (no driver here is slow on purpose), behind a table
// whose initialise sleeps first.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "engine/call_stream.h"
#include "engine/stream_watchdog.h"
#include "engine/tests/portaudio_double.h"
#include "platform/clock.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t kInitialiseMs = 400;
constexpr int kAwaySeconds = 30;

tallix::PortAudioApi g_slow;
const tallix::PortAudioApi* g_real = nullptr;
std::atomic<int> g_initialisations{0};

PaError slowInitialise() {
    g_initialisations.fetch_add(1);
    platform::sleepMs(kInitialiseMs);
    return g_real->initialize();
}

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : kAwaySeconds;
    using namespace tallix;
    testing::PortAudioDouble pa;
    pa.devices = {{"Mic", 1, 0, 48000}, {"Speakers", 0, 2, 48000}, {"Headset", 1, 1, 48000}};
    pa.defaultInput = 0;
    pa.defaultOutput = 1;
    g_real = &pa.api();
    g_slow = pa.api();
    g_slow.initialize = &slowInitialise;

    EngineLog log;  // no log manager: every message is dropped
    AudioControls controls;
    DeviceRegistry registry{g_slow, log};
    StreamSlots slots;
    CallStreams streams{slots, registry, log, controls};
    StreamWatchdog watchdog{streams};
    if (streams.open("Headset", "Headset") != Result::ok) {
        std::fprintf(stderr, "reopen_wait_bench: the call stream did not open\n");
        return 1;
    }
    watchdog.check(platform::nowMs());
    // The headset is unplugged and the sound server is gone: nothing opens.
    pa.devices.pop_back();
    pa.openError = paDeviceUnavailable;
    pa.finish();
    const int before = g_initialisations.load();

    std::atomic<bool> stop{false};
    double worstChange = 0.0;
    int changes = 0;
    std::thread java([&] {
        while (!stop.load()) {
            const auto start = Clock::now();
            (void)streams.changeDevices("Headset", "Headset", false);
            worstChange = std::max(worstChange, msSince(start));
            ++changes;
            platform::sleepMs(37);
        }
    });

    // The call thread: a poll step every 20 ms, the watchdog between two of them.
    double worstStep = 0.0;
    const auto begin = Clock::now();
    auto due = begin;
    while (Clock::now() - begin < std::chrono::seconds(seconds)) {
        watchdog.check(platform::nowMs());
        // The step's poll runs now; it was due at `due`.
        worstStep = std::max(worstStep, std::chrono::duration<double, std::milli>(Clock::now() - due).count());
        due += std::chrono::milliseconds(20);
        std::this_thread::sleep_until(std::max(due, Clock::now()));
        if (Clock::now() - due > std::chrono::milliseconds(20)) {
            due = Clock::now();  // steps that came late are not made up for
        }
    }
    const auto endStart = Clock::now();
    streams.close();
    const double endWait = msSince(endStart);
    stop.store(true);
    java.join();

    const int initialisations = g_initialisations.load() - before;
    std::printf("device away %d s, PortAudio initialise %u ms\n", seconds, kInitialiseMs);
    std::printf("  initialisations by reopening attempts: %d\n", initialisations);
    std::printf("  poll step late, worst: %.0f ms\n", worstStep);
    std::printf("  _changeAudioDevices wait, worst of %d: %.0f ms\n", changes, worstChange);
    std::printf("  _endCall wait: %.0f ms\n", endWait);
    return 0;
}
