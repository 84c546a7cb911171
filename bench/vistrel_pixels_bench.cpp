// Converting a 1920 x 1080 capture to the host's RGBA layout, against memcpy of the
// same number of output bytes: the conversion should run at least at half memcpy's
// speed. Throughput is counted in output bytes for all three.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "windows/dib_layout.h"
#include "windows/pixel_convert.h"

namespace {

constexpr std::uint32_t kWidth = 1920;
constexpr std::uint32_t kHeight = 1080;
constexpr std::size_t kOutBytes = std::size_t{kWidth} * kHeight * 4;

std::vector<std::uint8_t> sourceBits(std::uint32_t depth) {
    std::vector<std::uint8_t> bits(vistrel::dibRowBytes(depth, kWidth) * kHeight);
    for (std::size_t i = 0; i < bits.size(); ++i) {
        bits[i] = static_cast<std::uint8_t>(i * 131 + 7);
    }
    return bits;
}

void BM_Memcpy1080p(benchmark::State& state) {
    const std::vector<std::uint8_t> src = sourceBits(32);
    std::vector<std::uint8_t> out(kOutBytes);
    for (auto _ : state) {
        std::memcpy(out.data(), src.data(), kOutBytes);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kOutBytes));
}
BENCHMARK(BM_Memcpy1080p)->Unit(benchmark::kMicrosecond);

void BM_Convert32To1080p(benchmark::State& state) {
    const std::vector<std::uint8_t> src = sourceBits(32);
    std::vector<std::uint8_t> out(kOutBytes);
    for (auto _ : state) {
        vistrel::convert32ToRgba(src.data(), nullptr, kWidth, kHeight, out.data());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kOutBytes));
}
BENCHMARK(BM_Convert32To1080p)->Unit(benchmark::kMicrosecond);

void BM_Convert555To1080p(benchmark::State& state) {
    const std::vector<std::uint8_t> src = sourceBits(16);
    std::vector<std::uint8_t> out(kOutBytes);
    for (auto _ : state) {
        vistrel::convert555ToRgba(src.data(), nullptr, kWidth, kHeight, out.data());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kOutBytes));
}
BENCHMARK(BM_Convert555To1080p)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
