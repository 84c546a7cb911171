// A voice call through the engine: the real session library, the test voice server's
// echo on loopback and real PortAudio. Needs the sound server's HOME:
//   eval "$(tools/sound-server.sh start /tmp/snd)"; build/linux/bench/bench_tallix_call
// BM_ConnectedCall: the audio callback's time per device buffer and the whole process's
// CPU while voice flows both ways, as a share of one core.
// BM_MouthToEar: a click put into the captured buffer that the engine hands to the
// session library, found again in the buffer it plays: engine, session library, UDP,
// server and back. The device's own latencies (as PortAudio reports them for the open
// stream) are added for the figure a person would hear.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <vector>

#include "engine/engine.h"
#include "engine/tests/server_process.h"
#include "engine/tests/tcp_test_host.h"
#include "platform/clock.h"

namespace {

using Clock = std::chrono::steady_clock;

struct CallbackTimer {
    static inline std::atomic<int64_t> totalNs{0};
    static inline std::atomic<int64_t> maxNs{0};
    static inline std::atomic<int> calls{0};
    static inline decltype(&::audioIO) real = nullptr;
    static int audioIO(QelClient* c, const float* const* in, int ni, float gi, float* const* out,
                       int no, float go) {
        const auto start = Clock::now();
        const int result = real(c, in, ni, gi, out, no, go);
        const int64_t ns =
            std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start).count();
        totalNs += ns;
        int64_t seen = maxNs.load();
        while (ns > seen && !maxNs.compare_exchange_weak(seen, ns)) {
        }
        ++calls;
        return result;
    }
};

// Replaces the captured audio with silence and a click every second, and times the
// click's return in the played audio. Runs on the audio thread: no allocation.
struct ClickProbe {
    static constexpr int kFrames = 512;
    static constexpr int64_t kEvery = 48000;  // frames between clicks
    static constexpr int kClickFrames = 96;   // 2 ms
    static inline decltype(&::audioIO) real = nullptr;
    static inline float input[kFrames];
    static inline int64_t frame = 0;
    static inline int64_t clickAt = -1;
    static inline std::atomic<int> found{0};
    static inline double foundMs[64];

    static void reset() {
        frame = 0;
        clickAt = -1;
        found = 0;
    }
    static int audioIO(QelClient* c, const float* const*, int ni, float gi, float* const* out, int no,
                       float go) {
        for (int i = 0; i < kFrames; ++i) {
            const int64_t at = frame + i;
            const bool click = at >= kEvery && at % kEvery < kClickFrames;
            input[i] = click ? ((at / 8) % 2 ? 0.8f : -0.8f) : 0.0f;
            if (click && at % kEvery == 0) {
                clickAt = at;
            }
        }
        const float* inputs[1] = {input};  // in place of what the device captured
        const int result = real(c, inputs, ni, gi, out, no, go);
        if (clickAt >= 0) {
            for (int i = 0; i < kFrames; ++i) {
                if (std::abs(out[0][i]) > 0.2f) {
                    const int n = found.load();
                    if (n < 64) {
                        foundMs[n] = static_cast<double>(frame + i - clickAt) / 48.0;
                        found.store(n + 1);
                    }
                    clickAt = -1;
                    break;
                }
            }
        }
        frame += kFrames;
        return result;
    }
};

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

tallix::Engine* sharedEngine() {
    static tallix::Engine* engine = [] {
        auto* e = new tallix::Engine(tallix::systemPortAudio());
        e->initialise(QEL_LIBRARY_PATH);
        e->call.setCallerId("bench");
        return e;
    }();
    return engine;
}

bool startCall(tallix::Engine& engine, const tallix::testing::ServerProcess& server) {
    auto host = std::make_shared<tallix::testing::TcpTestHost>(engine.call);
    if (engine.call.start({"1", "127.0.0.1", static_cast<uint16_t>(server.tcpPort()), "echo"},
                          nullptr, nullptr, false, host) != tallix::Result::ok) {
        return false;
    }
    return host->nextEvent(10000) == "started 1";
}

void endCall(tallix::Engine& engine) {
    engine.call.end();
    engine.call.waitIdle(10000);
}

void BM_ConnectedCall(benchmark::State& state) {
    tallix::Engine& engine = *sharedEngine();
    tallix::testing::ServerProcess server;
    tallix::SessionApi timed = engine.api();
    CallbackTimer::real = timed.audioIO;
    timed.audioIO = &CallbackTimer::audioIO;
    engine.streams.setSession(&timed, engine.client());
    const int seconds = static_cast<int>(state.range(0));
    for (auto _ : state) {
        if (!startCall(engine, server)) {
            state.SkipWithError("no call (sound server or voice server missing)");
            break;
        }
        CallbackTimer::totalNs = 0;
        CallbackTimer::maxNs = 0;
        CallbackTimer::calls = 0;
        const double cpuBefore = cpuSeconds();
        const auto wallBefore = Clock::now();
        platform::sleepMs(static_cast<uint32_t>(seconds * 1000));
        const double cpu = cpuSeconds() - cpuBefore;
        const double wall = std::chrono::duration<double>(Clock::now() - wallBefore).count();
        endCall(engine);
        state.counters["process_cpu_pct_of_core"] = 100.0 * cpu / wall;
        state.counters["callbacks_per_s"] = CallbackTimer::calls / wall;
        state.counters["audioIO_mean_us"] =
            CallbackTimer::calls ? CallbackTimer::totalNs / 1000.0 / CallbackTimer::calls : 0;
        state.counters["audioIO_max_us"] = CallbackTimer::maxNs / 1000.0;
    }
    engine.streams.setSession(&engine.api(), engine.client());
}
BENCHMARK(BM_ConnectedCall)->Arg(5)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

void BM_MouthToEar(benchmark::State& state) {
    tallix::Engine& engine = *sharedEngine();
    tallix::testing::ServerProcess server;
    tallix::SessionApi probed = engine.api();
    ClickProbe::real = probed.audioIO;
    probed.audioIO = &ClickProbe::audioIO;
    engine.streams.setSession(&probed, engine.client());
    // The echo canceller would take the returning click for what it is: an echo.
    for (int flag = 1; flag <= 3; ++flag) {
        engine.api().setAudioFlag(engine.client(), flag, 0);
    }
    for (auto _ : state) {
        ClickProbe::reset();
        if (!startCall(engine, server)) {
            state.SkipWithError("no call (sound server or voice server missing)");
            break;
        }
        platform::sleepMs(static_cast<uint32_t>(state.range(0) * 1000));
        const tallix::StreamFigures figures = engine.streams.figures();
        const double deviceLatencyMs = (figures.inputLatency + figures.outputLatency) * 1000;
        endCall(engine);
        const int n = ClickProbe::found.load();
        if (n == 0) {
            state.SkipWithError("no click came back");
            break;
        }
        std::vector<double> ms(ClickProbe::foundMs, ClickProbe::foundMs + n);
        std::sort(ms.begin(), ms.end());
        state.counters["clicks"] = n;
        state.counters["stack_median_ms"] = ms[ms.size() / 2];
        state.counters["stack_max_ms"] = ms.back();
        state.counters["device_in_plus_out_ms"] = deviceLatencyMs;
        state.counters["mouth_to_ear_median_ms"] = ms[ms.size() / 2] + deviceLatencyMs;
    }
    for (int flag = 1; flag <= 3; ++flag) {
        engine.api().setAudioFlag(engine.client(), flag, 1);
    }
    engine.streams.setSession(&engine.api(), engine.client());
}
BENCHMARK(BM_MouthToEar)->Arg(8)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
