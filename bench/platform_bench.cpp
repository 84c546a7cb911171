// Cost of the uncontended spin lock and of the clock, the two platform calls that the
// session library makes on every audio buffer and every poll step.
#include <benchmark/benchmark.h>

#include "platform/clock.h"
#include "platform/spin_lock.h"

namespace {

void BM_SpinLockUncontended(benchmark::State& state) {
    platform::SpinLock lock;
    for (auto _ : state) {
        benchmark::DoNotOptimize(lock.tryAcquire(1));
        lock.release(1);
    }
}
BENCHMARK(BM_SpinLockUncontended);

void BM_ClockNowMs(benchmark::State& state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(platform::nowMs());
    }
}
BENCHMARK(BM_ClockNowMs);

}  // namespace

BENCHMARK_MAIN();
