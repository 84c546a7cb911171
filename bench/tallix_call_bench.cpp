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
#include <cstdio>
#include <vector>

#include "engine/engine.h"
#include "engine/tests/server_process.h"
#include "engine/tests/tcp_test_host.h"
#include "platform/clock.h"
#include "platform/dynamic_library.h"
#include "session/audio/stage_probe.h"
#include "tools/qelcall/latency_stages.h"
#include "tools/qelcall/udp_arrival.h"

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
// click's return in the played audio. On the way it arms the session library's stage
// probe for each click and stamps the seams the benchmark controls (the audio callback
// around audioIO, the call thread around recvPacket with the kernel's arrival stamp of
// the datagram), so each click's time is split into its stages. The audio thread's
// part allocates nothing.
struct ClickProbe {
    static constexpr int kFrames = 512;
    // Frames between clicks: a second and a little, so that successive clicks fall at
    // different places in the device buffers and the codec frames.
    static constexpr int64_t kEvery = 48137;
    static constexpr int kClickFrames = 96;   // 2 ms
    static constexpr int kMaxClicks = 64;
    static constexpr int16_t kProbeThreshold = 6554;  // 0.2 of full scale
    static inline decltype(&::audioIO) real = nullptr;
    static inline decltype(&::recvPacket) realRecv = nullptr;
    static inline qel::StageProbe* stages = nullptr;
    static inline float input[kFrames];
    static inline int64_t frame = 0;
    static inline int64_t clickAt = -1;
    static inline qelcall::ClickStamps pending;
    static inline std::atomic<int> found{0};
    static inline int64_t foundFrames[kMaxClicks];  // device frames, click to click
    static inline qelcall::ClickStamps stamps[kMaxClicks];
    // Call thread.
    static inline uint16_t serverUdpPort = 0;
    static inline qelcall::UdpArrival arrival;
    static inline bool socketFound = false;
    static inline std::atomic<int64_t> clickArrivedUs{0};

    static void reset() {
        frame = 0;
        clickAt = -1;
        found = 0;
        socketFound = false;
    }
    static int audioIO(QelClient* c, const float* const*, int ni, float gi, float* const* out, int no,
                       float go) {
        const int64_t entered = qel::StageProbe::nowUs();
        for (int i = 0; i < kFrames; ++i) {
            const int64_t at = frame + i;
            const bool click = at >= kEvery && at % kEvery < kClickFrames;
            input[i] = click ? ((at / 8) % 2 ? 0.8f : -0.8f) : 0.0f;
            if (click && at % kEvery == 0) {
                clickAt = at;
                pending = {};
                pending.handedInUs = entered;
                pending.inputOffset = i;
                clickArrivedUs = 0;
                if (stages != nullptr) {
                    stages->arm(kProbeThreshold);
                }
            }
        }
        const float* inputs[1] = {input};  // in place of what the device captured
        const int result = real(c, inputs, ni, gi, out, no, go);
        const int64_t left = qel::StageProbe::nowUs();
        if (clickAt >= 0) {
            for (int i = 0; i < kFrames; ++i) {
                if (std::abs(out[0][i]) > 0.2f) {
                    const int n = found.load();
                    if (n < kMaxClicks) {
                        foundFrames[n] = frame + i - clickAt;
                        pending.playedUs = left;
                        pending.outputOffset = i;
                        if (stages != nullptr) {
                            pending.readyUs = stages->readyUs();
                            pending.encodedUs = stages->encodedUs();
                            pending.queuedUs = stages->queuedUs();
                            pending.decodedUs = stages->decodedUs();
                            pending.queuedAhead = stages->queuedAhead();
                            pending.arrivedUs = clickArrivedUs.load();
                        }
                        stamps[n] = pending;
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
    static int recvPacket(QelClient* c, const void* bytes, int length, int viaUdp) {
        int64_t arrived = 0;
        if (viaUdp != 0) {
            if (!socketFound) {
                socketFound = arrival.find(serverUdpPort);
            }
            arrived = arrival.lastArrivalUs();
        }
        const int64_t before = stages != nullptr ? stages->queuedUs() : 1;
        const int result = realRecv(c, bytes, length, viaUdp);
        if (before == 0 && stages->queuedUs() != 0) {
            clickArrivedUs = arrived;
        }
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
        // The benchmarks' build of the session library: the shipped code and entry
        // points, and stageProbe for the latency stamps.
        e->initialise(QEL_PROBE_LIBRARY_PATH);
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

// The clicks' stage medians as counters (stage_<n>_<name>_ms), printed as a table too.
void reportStages(benchmark::State& state, int clicks, double inputLatencyMs, double outputLatencyMs,
                  int rate) {
    std::vector<double> rows;
    std::vector<double> ahead;
    for (int i = 0; i < clicks; ++i) {
        double row[qelcall::kStageCount];
        if (qelcall::stageTimes(ClickProbe::stamps[i], inputLatencyMs, outputLatencyMs, rate, row)) {
            rows.insert(rows.end(), row, row + qelcall::kStageCount);
            ahead.push_back(ClickProbe::stamps[i].queuedAhead);
        }
    }
    const int n = static_cast<int>(ahead.size());
    state.counters["staged_clicks"] = n;
    if (n == 0) {
        return;
    }
    double median[qelcall::kStageCount + 1];
    qelcall::medianClick(rows.data(), n, median);
    std::sort(ahead.begin(), ahead.end());
    std::printf("mouth-to-ear by stage, engine (the median one of %d clicks, device at %d Hz):\n", n,
                rate);
    for (int stage = 0; stage < qelcall::kStageCount; ++stage) {
        std::printf("  %-18s %6.1f ms\n", qelcall::stageName(stage), median[stage]);
        char name[64];
        std::snprintf(name, sizeof name, "stage_%d_ms", stage + 1);
        state.counters[name] = median[stage];
    }
    std::printf("  %-18s %6.1f ms (sum of each click's stages)\n", "total", median[qelcall::kStageCount]);
    std::printf("  jitter buffer held %g packets when the click's frame was queued (median)\n",
                ahead[ahead.size() / 2]);
    state.counters["jitter_packets_ahead"] = ahead[ahead.size() / 2];
}

qel::StageProbe* stageProbeOf(QelClient* client) {
    static platform::DynamicLibrary library = platform::DynamicLibrary::open(QEL_PROBE_LIBRARY_PATH);
    auto* find = reinterpret_cast<void* (*)(QelClient*)>(library.symbol("stageProbe"));
    return find != nullptr ? static_cast<qel::StageProbe*>(find(client)) : nullptr;
}

void BM_MouthToEar(benchmark::State& state) {
    tallix::Engine& engine = *sharedEngine();
    tallix::testing::ServerProcess server;
    tallix::SessionApi probed = engine.api();
    ClickProbe::real = probed.audioIO;
    probed.audioIO = &ClickProbe::audioIO;
    ClickProbe::realRecv = probed.recvPacket;
    probed.recvPacket = &ClickProbe::recvPacket;
    ClickProbe::stages = stageProbeOf(engine.client());
    ClickProbe::serverUdpPort = static_cast<uint16_t>(server.udpPort());
    engine.streams.setSession(&probed, engine.client());
    engine.call.setSession(&probed, engine.client());
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
        // The device's own rate: a sound server need not run at 48 kHz.
        const int rate = figures.sampleRate > 0 ? figures.sampleRate : 48000;
        std::vector<double> ms;
        for (int i = 0; i < n; ++i) {
            ms.push_back(static_cast<double>(ClickProbe::foundFrames[i]) * 1000.0 / rate);
        }
        std::sort(ms.begin(), ms.end());
        state.counters["clicks"] = n;
        state.counters["stack_median_ms"] = ms[ms.size() / 2];
        state.counters["stack_max_ms"] = ms.back();
        state.counters["device_in_plus_out_ms"] = deviceLatencyMs;
        state.counters["mouth_to_ear_median_ms"] = ms[ms.size() / 2] + deviceLatencyMs;
        reportStages(state, n, figures.inputLatency * 1000, figures.outputLatency * 1000, rate);
    }
    for (int flag = 1; flag <= 3; ++flag) {
        engine.api().setAudioFlag(engine.client(), flag, 1);
    }
    if (ClickProbe::stages != nullptr) {
        ClickProbe::stages->disarm();
    }
    engine.streams.setSession(&engine.api(), engine.client());
    engine.call.setSession(&engine.api(), engine.client());
}
BENCHMARK(BM_MouthToEar)->Arg(20)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
