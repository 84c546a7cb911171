// Appends per second into the session library's log: one writer alone, and several
// writers while a reader walks the log, as the audio, call and control threads do.
#include <benchmark/benchmark.h>

#include <memory>

#include "session/log_manager.h"

namespace {

using session::LogManager;

// One writer. Every 8,192 appends the log is cleared (part of the measured time, a
// few bytes per append) so that the buffers stay at their working size.
void BM_LogAppendOneWriter(benchmark::State& state) {
    auto log = LogManager::create();
    log->setLevel(4);
    int i = 0;
    for (auto _ : state) {
        log->log(4, "POLL(): Adjusting m_nexttick by %d", i);
        if ((++i & 8191) == 0) {
            log->clear();
        }
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["dropped"] = static_cast<double>(log->droppedCount());
}
BENCHMARK(BM_LogAppendOneWriter);

// Messages below the level are skipped before the lock.
void BM_LogFilteredMessage(benchmark::State& state) {
    auto log = LogManager::create();
    log->setLevel(3);
    log->log(3, "start");
    int i = 0;
    for (auto _ : state) {
        log->log(5, "recv_rtp(%d)", ++i);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LogFilteredMessage);

// Thread 0 walks the log, draining one snapshot per iteration; the other threads
// append. Items are appends of all writers together.
void BM_LogAppendWritersWithWalker(benchmark::State& state) {
    // Made once, shared by the threads of every run; each run starts it empty (the
    // threads meet at the start of their loops, after this).
    static const std::unique_ptr<LogManager> shared = LogManager::create();
    LogManager& log = *shared;
    if (state.thread_index() == 0) {
        log.clear();
        log.setLevel(5);
        const uint32_t droppedBefore = log.droppedCount();
        int64_t walked = 0;
        for (auto _ : state) {
            while (log.walk() != nullptr) {
                ++walked;
            }
        }
        while (log.walk() != nullptr || log.walk() != nullptr) {
            ++walked;
        }
        state.counters["walked"] = static_cast<double>(walked);
        state.counters["dropped"] = static_cast<double>(log.droppedCount() - droppedBefore);
    } else {
        const int id = state.thread_index();
        int i = 0;
        for (auto _ : state) {
            log.log(4, "writer %d message %d", id, ++i);
        }
        state.SetItemsProcessed(state.iterations());
    }
}
BENCHMARK(BM_LogAppendWritersWithWalker)->Threads(2)->Threads(3)->Threads(5)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
