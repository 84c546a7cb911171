// Cost of the voice path: one second of call audio through both ends' device
// callbacks, encoder steps, cipher, jitter buffer and decoder at 48 kHz with 512-frame
// buffers and every processing component on; and the voice cipher against memcpy.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "bench/call_second.h"
#include "session/audio/salsa20.h"
#include "session/audio/voice_audio.h"

namespace {

// One second (94 buffers of 512 at 48 kHz) on one end of a call whose far end's
// packets are fed in as they would arrive. Reported: seconds of CPU per second of
// audio, i.e. the fraction of one core.
void BM_CallSecondThroughWholePath(benchmark::State& state) {
    bench::CallSecond call;
    for (auto _ : state) {
        benchmark::DoNotOptimize(call.second());
    }
    state.counters["core_fraction"] = benchmark::Counter(
        static_cast<double>(state.iterations()), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_CallSecondThroughWholePath)->Unit(benchmark::kMillisecond)->UseRealTime();

template <bool Cipher>
void BM_Bytes(benchmark::State& state) {
    const size_t n = static_cast<size_t>(state.range(0));
    std::vector<uint8_t> a(n, 1), b(n, 2);
    const uint8_t key[32] = {7};
    const uint8_t nonce[8] = {1};
    qel::VoiceCipherState s;
    s.keySetup(key);
    for (auto _ : state) {
        if (Cipher) {
            s.nonceSetup(nonce);
            s.crypt(a.data(), n);
        } else {
            std::memcpy(b.data(), a.data(), n);
        }
        benchmark::DoNotOptimize(a.data());
        benchmark::DoNotOptimize(b.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(n));
}
void BM_VoiceCipher(benchmark::State& state) { BM_Bytes<true>(state); }
void BM_Memcpy(benchmark::State& state) { BM_Bytes<false>(state); }
BENCHMARK(BM_VoiceCipher)->Arg(160)->Arg(65536);
BENCHMARK(BM_Memcpy)->Arg(160)->Arg(65536);

}  // namespace

BENCHMARK_MAIN();
