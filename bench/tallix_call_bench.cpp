// CPU cost of a voice call through the engine: the real session library, the test voice
// server on loopback and real PortAudio. Needs the sound server's HOME:
//   eval "$(tools/sound-server.sh start /tmp/snd)"; build/linux/bench/bench_tallix_call
// Reports the audio callback's time per device buffer and the whole process's CPU
// during the call, as a share of one core.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>

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
    static inline int (*real)(QelClient*, float**, int, float, float**, int, float) = nullptr;
    static int audioIO(QelClient* c, float** in, int ni, float gi, float** out, int no, float go) {
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

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void BM_ConnectedCall(benchmark::State& state) {
    static tallix::Engine* engine = [] {
        auto* e = new tallix::Engine(tallix::systemPortAudio());
        e->initialise(QEL_LIBRARY_PATH);
        e->call.setCallerId("bench");
        return e;
    }();
    tallix::testing::ServerProcess server;
    tallix::SessionApi timed = engine->api();
    CallbackTimer::real = timed.audioIO;
    timed.audioIO = &CallbackTimer::audioIO;
    engine->streams.setSession(&timed, engine->client());
    const int seconds = static_cast<int>(state.range(0));
    for (auto _ : state) {
        auto host = std::make_shared<tallix::testing::TcpTestHost>(engine->call);
        if (engine->call.start({"1", "127.0.0.1", static_cast<uint16_t>(server.tcpPort()), "echo"},
                               nullptr, nullptr, false, host) != tallix::Result::ok ||
            host->nextEvent(10000) != "started 1") {
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
        engine->call.end();
        host->nextEvent(10000);
        engine->call.waitIdle(10000);
        state.counters["process_cpu_pct_of_core"] = 100.0 * cpu / wall;
        state.counters["callbacks_per_s"] = CallbackTimer::calls / wall;
        state.counters["audioIO_mean_us"] =
            CallbackTimer::calls ? CallbackTimer::totalNs / 1000.0 / CallbackTimer::calls : 0;
        state.counters["audioIO_max_us"] = CallbackTimer::maxNs / 1000.0;
    }
    engine->streams.setSession(&engine->api(), engine->client());
}
BENCHMARK(BM_ConnectedCall)->Arg(5)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
