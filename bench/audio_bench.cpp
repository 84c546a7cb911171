// Cost of the voice path: one second of call audio through both ends' device
// callbacks, encoder steps, cipher, jitter buffer and decoder at 48 kHz with 512-frame
// buffers and every processing component on; and the voice cipher against memcpy.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <vector>

#include "session/audio/audio_log.h"
#include "session/audio/salsa20.h"
#include "session/audio/voice_audio.h"

namespace {

// One processed frame as the session sends it: prefix, encoded frame, enciphered.
int sealFrame(qel::VoiceAudio& audio, uint8_t* payload) {
    if (audio.path().captureFifo().done() < qel::AudioPath::kFrameSamples) {
        return 0;
    }
    audio.cipher().seal(payload, 0);
    const int bytes = audio.encodeBehindPrefix(payload);
    return bytes > 0 ? static_cast<int>(qel::VoiceCipher::kPrefixBytes) + bytes : 0;
}

class NullLog : public qel::AudioLog {
public:
    void vlog(int, const char*, va_list) override {}
    void vlogRepeated(int, int, const char*, va_list) override {}
};

std::vector<float> testSignal(size_t n) {
    std::vector<float> v(n);
    for (size_t i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / 48000.0;
        const double env = 0.5 + 0.5 * std::sin(2 * 3.14159265 * 3.0 * t);
        v[i] = static_cast<float>(env * 0.2 *
                                  (std::sin(2 * 3.14159265 * 180 * t) + 0.5 * std::sin(2 * 3.14159265 * 900 * t)));
    }
    return v;
}

using Packets = std::vector<std::vector<std::vector<uint8_t>>>;

// The measured second of call, kept out of line so that a profiler can take its
// inclusive cost apart (bench/audio_cost_split.sh): 94 device buffers through
// audioIO, the far end's packets through the receive step, the encoder step and
// cipher for every frame that is ready. Returns the next buffer index.
__attribute__((noinline)) size_t callSecond(qel::VoiceAudio& near, const std::vector<float>& signal,
                                            const Packets& farPackets, size_t buffer, std::vector<float>& out) {
    for (int b = 0; b < 94; ++b, ++buffer) {
        const float* in[1] = {signal.data() + (buffer * 512) % (signal.size() - 512)};
        float* o[1] = {out.data()};
        near.audioIO(in, 1, 1.0f, o, 1, 1.0f);
        for (const auto& p : farPackets[buffer % farPackets.size()]) {
            uint8_t copy[1008];  // deciphered in place: the stored packet stays as sent
            std::memcpy(copy, p.data(), p.size());
            near.onAudioPacket(copy, static_cast<int32_t>(p.size()), 1);
        }
        uint8_t payload[1008];
        while (sealFrame(near, payload) > 0) {
        }
    }
    return buffer;
}

// One second (94 buffers of 512 at 48 kHz) on one end of a call whose far end's
// packets are fed in as they would arrive. Reported: seconds of CPU per second of
// audio, i.e. the fraction of one core.
void BM_CallSecondThroughWholePath(benchmark::State& state) {
    NullLog log;
    qel::VoiceAudio far(log);
    qel::VoiceAudio near(log);
    const uint8_t key[33] = "Zq8wKx1nR4tY7uIo0pLa3sDf6gHj9kMb";
    for (qel::VoiceAudio* a : {&far, &near}) {
        a->reset();
        a->cipher().rekey(key);
        a->audioSetup(48000, 512, 1024);
        a->setLastVoiceReceive(1);
    }
    const auto signal = testSignal(48000 * 2);
    std::vector<float> out(512);
    // The far end's packets for a second are made once, outside the timing.
    Packets farPackets;
    for (int b = 0; b < 94 * 4; ++b) {
        const float* in[1] = {signal.data() + (b * 512) % (signal.size() - 512)};
        float* o[1] = {out.data()};
        far.audioIO(in, 1, 1.0f, o, 1, 1.0f);
        std::vector<std::vector<uint8_t>> group;
        for (;;) {
            std::vector<uint8_t> p(1008);
            const int n = sealFrame(far, p.data());
            if (n <= 0) {
                break;
            }
            p.resize(static_cast<size_t>(n));
            group.push_back(p);
        }
        farPackets.push_back(group);
    }
    size_t buffer = 0;
    for (auto _ : state) {
        buffer = callSecond(near, signal, farPackets, buffer, out);
        benchmark::DoNotOptimize(out.data());
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
