// Appends per second into the session library's log: one writer alone, and several
// writers while a reader walks the log, as the audio, call and control threads do.
#include <benchmark/benchmark.h>

#include <atomic>
#include <memory>
#include <thread>

#include "platform/clock.h"
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

// Writers append while a reader walks the log as a log bridge does: it drains a
// snapshot, then waits 1 ms. Items are appends of all writers together.
void BM_LogAppendWritersWithWalker(benchmark::State& state) {
    // Made once, shared by the threads of every run. Thread 0 starts each run with an
    // empty log and a walker before the threads meet at the start of their loops, and
    // stops the walker after they meet again at the end.
    static const std::unique_ptr<LogManager> shared = LogManager::create();
    static std::atomic<bool> stop{false};
    static std::atomic<int64_t> walked{0};
    static std::thread walker;
    LogManager& log = *shared;
    uint32_t droppedBefore = 0;
    if (state.thread_index() == 0) {
        log.clear();
        log.setLevel(5);
        droppedBefore = log.droppedCount();
        stop = false;
        walked = 0;
        walker = std::thread([&log] {
            while (!stop.load()) {
                while (log.walk() != nullptr) {
                    ++walked;
                }
                platform::sleepMs(1);
            }
        });
    }
    const int id = state.thread_index();
    int i = 0;
    for (auto _ : state) {
        log.log(4, "writer %d message %d", id, ++i);
    }
    state.SetItemsProcessed(state.iterations());
    if (state.thread_index() == 0) {
        stop = true;
        walker.join();
        while (log.walk() != nullptr || log.walk() != nullptr) {
            ++walked;
        }
        state.counters["walked"] = static_cast<double>(walked.load());
        state.counters["dropped"] = static_cast<double>(log.droppedCount() - droppedBefore);
    }
}
BENCHMARK(BM_LogAppendWritersWithWalker)->Threads(1)->Threads(2)->Threads(4)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
