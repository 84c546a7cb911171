// The audio thread's worst case in a real call: how long audioIO takes, buffer by
// buffer, over 60 s, while everything that competes with it runs.
//
// The session library as the host loads it; qelcall's call (a call thread moving
// packets and polling, an audio thread calling audioIO every 512 frames at 48 kHz in
// real time); the real qel-server's echo dropping 10 % of the voice packets and delaying
// each by up to 30 ms; and a control thread that toggles the three processing flags and
// drains the client's log, as a host's Java threads would. Reported after 2 s of warm-up:
// p50, p99, p99.9 and the maximum of the time inside audioIO, and the device buffers
// skipped because the path lock stayed busy (from the client's own statistics line).
//
//   build/linux/bench/bench_audio_worst_case [--benchmark_filter=...]
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <thread>
#include <vector>

#include "tools/qelcall/call.h"
#include "tools/qelcall/qel_library.h"
#include "tools/qelcall/tests/server_child.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kWarmUpBuffers = 2 * 48000 / 512;

qelcall::QelEntryPoints g_real;
std::vector<int64_t> g_durationsNs;  // reserved up front; written by the audio thread only
// The audio thread's own CPU time in each call: what the path costs without the time
// the thread spent preempted, which on a loaded machine dominates the wall-clock tail.
std::vector<int64_t> g_cpuNs;
std::atomic<size_t> g_buffers{0};
std::atomic<QelClient*> g_client{nullptr};
// Held by the control thread while it uses the client; the client is freed under it.
std::mutex g_clientUse;
std::atomic<uint64_t> g_skipped{0};
std::atomic<uint64_t> g_underrunLines{0};

int64_t threadCpuNs() noexcept {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

int timedAudioIO(QelClient* client, const float* const* inputs, int inputCount, float inputGain,
                 float* const* outputs, int outputCount, float outputGain) {
    if (g_buffers.load(std::memory_order_relaxed) == 0) {
        g_client.store(client);  // the control thread's client from the call's first buffer
    }
    const int64_t cpuStart = threadCpuNs();
    const auto start = Clock::now();
    const int result = g_real.audioIO(client, inputs, inputCount, inputGain, outputs, outputCount, outputGain);
    const int64_t ns = std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start).count();
    const int64_t cpuNs = threadCpuNs() - cpuStart;
    const size_t n = g_buffers.fetch_add(1, std::memory_order_relaxed);
    if (n < g_durationsNs.size()) {
        g_durationsNs[n] = ns;
        g_cpuNs[n] = cpuNs;
    }
    return result;
}

// Every line walked, by whichever thread walks: the skipped-buffer counts of the
// statistics line and the underruns.
const LogWalkEntry* watchingLogWalk(QelClient* client) {
    const LogWalkEntry* entry = g_real.logwalk(client);
    if (entry != nullptr) {
        const char* message = std::strchr(entry->text, ' ');
        message = message != nullptr ? message + 1 : entry->text;
        unsigned skipped = 0;
        unsigned misses = 0;
        if (std::sscanf(message, "Audio path lock busy: %u device buffers skipped, %u", &skipped, &misses) >= 1) {
            g_skipped.fetch_add(skipped);
        }
        if (std::strstr(message, "Network underrun") != nullptr) {
            g_underrunLines.fetch_add(1);
        }
    }
    return entry;
}

void fineLogLevel(QelClient* client, int) { g_real.loglevel(client, 4); }

// The call frees its client at its end: the control thread lets go of it first.
void guardedFreeClient(QelClient* client) {
    {
        std::lock_guard<std::mutex> guard(g_clientUse);
        g_client = nullptr;
    }
    g_real.freeClient(client);
}

double percentile(const std::vector<int64_t>& sorted, double p) {
    const size_t i = std::min(sorted.size() - 1, static_cast<size_t>(p * static_cast<double>(sorted.size())));
    return static_cast<double>(sorted[i]) / 1000.0;
}

void BM_AudioIOWorstCase(benchmark::State& state) {
    const double seconds = static_cast<double>(state.range(0));
    // 1: a flag toggled at every pass of the control thread (every 7 ms); 0: the log
    // drained only. The processing module rebuilds a component whose flag changes.
    const bool toggling = state.range(1) != 0;
    qelcall::QelLibrary library;
    std::string error;
    if (!library.load(QEL_LIBRARY_PATH, error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    g_real = library.api();
    qelcall::QelEntryPoints api = g_real;
    api.audioIO = &timedAudioIO;
    api.logwalk = &watchingLogWalk;
    api.loglevel = &fineLogLevel;
    api.freeClient = &guardedFreeClient;

    qelcall::MonoAudio mic;
    mic.rate = qelcall::kDeviceRate;
    mic.samples.resize(static_cast<size_t>((seconds + 20) * qelcall::kDeviceRate));
    for (size_t i = 0; i < mic.samples.size(); ++i) {
        const bool speaking = (i / 36000) % 4 != 3;  // 0.75 s talk, 0.25 s pause
        mic.samples[i] = speaking ? 0.3f * static_cast<float>(std::sin(2 * M_PI * (300.0 + i % 7) * i / 48000)) : 0.0f;
    }

    for (auto _ : state) {
        qelcall::testing::ServerChild server(QEL_SERVER_PATH, {"--loss", "10", "--jitter", "30", "--seed", "3"});
        if (server.tcpPort() == 0) {
            state.SkipWithError("qel-server did not start");
            break;
        }
        g_durationsNs.assign(static_cast<size_t>((seconds + 20) * 48000 / 512), 0);
        g_cpuNs.assign(g_durationsNs.size(), 0);
        g_buffers = 0;
        g_skipped = 0;
        g_underrunLines = 0;
        g_client = nullptr;
        qelcall::WavWriter heard("", qelcall::kDeviceRate);  // figures only, no file
        qelcall::CallOptions options;
        options.port = server.tcpPort();
        options.seconds = seconds;
        qelcall::CallStatistics stats;
        std::atomic<bool> stop{false};
        std::atomic<bool> done{false};
        uint64_t toggles = 0;
        std::thread control([&] {
            for (int i = 0; !done.load(); ++i) {
                std::this_thread::sleep_for(std::chrono::milliseconds(7));
                std::lock_guard<std::mutex> guard(g_clientUse);
                QelClient* client = g_client.load();
                if (client == nullptr) {
                    continue;
                }
                if (toggling) {
                    g_real.setAudioFlag(client, 1 + i % 3, (i / 3) % 2);
                    ++toggles;
                }
                while (api.logwalk(client) != nullptr) {
                }
            }
        });
        const std::string failure = qelcall::runCall(api, options, mic, heard, stats, stop);
        done = true;
        control.join();
        heard.finish();
        if (!failure.empty()) {
            state.SkipWithError(failure.c_str());
            break;
        }
        const size_t n = std::min(g_buffers.load(), g_durationsNs.size());
        if (n <= kWarmUpBuffers + 100) {
            state.SkipWithError("too few device buffers");
            break;
        }
        std::vector<int64_t> sorted(g_durationsNs.begin() + kWarmUpBuffers, g_durationsNs.begin() + n);
        std::sort(sorted.begin(), sorted.end());
        state.counters["buffers"] = static_cast<double>(sorted.size());
        state.counters["p50_us"] = percentile(sorted, 0.50);
        state.counters["p99_us"] = percentile(sorted, 0.99);
        state.counters["p99.9_us"] = percentile(sorted, 0.999);
        state.counters["max_us"] = static_cast<double>(sorted.back()) / 1000.0;
        std::vector<int64_t> cpu(g_cpuNs.begin() + kWarmUpBuffers, g_cpuNs.begin() + n);
        std::sort(cpu.begin(), cpu.end());
        state.counters["cpu_p99.9_us"] = percentile(cpu, 0.999);
        state.counters["cpu_max_us"] = static_cast<double>(cpu.back()) / 1000.0;
        state.counters["skipped_buffers"] = static_cast<double>(g_skipped.load());
        state.counters["late_wakeups"] = static_cast<double>(stats.audioLate);
        state.counters["flag_toggles"] = static_cast<double>(toggles);
        state.counters["underrun_lines"] = static_cast<double>(g_underrunLines.load());
        state.counters["rx_of_tx_pct"] =
            stats.udpSent ? 100.0 * static_cast<double>(stats.udpReceived) / static_cast<double>(stats.udpSent) : 0;
    }
}
BENCHMARK(BM_AudioIOWorstCase)->Args({60, 1})->Args({60, 0})->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
