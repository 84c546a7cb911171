// The audio thread of a real call reaches neither the heap nor a message of its own.
//
// This program puts its own malloc, calloc, realloc, free, posix_memalign,
// aligned_alloc and memalign in front of the C library's for the whole process (the
// session library, loaded at run time, and every library it uses resolve to them), and
// counts the calls that the audio thread makes while it is inside audioIO. The call is
// qelcall's: the session library through its exported entry points, the real
// qel-server on loopback dropping, delaying and reordering voice packets, and the
// client's real log at a level that keeps the underrun and insertion messages.
#include <dlfcn.h>
#include <execinfo.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "tools/qelcall/call.h"
#include "tools/qelcall/qel_library.h"
#include "tools/qelcall/tests/server_child.h"

extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void __libc_free(void*);
void* __libc_memalign(size_t, size_t);
}

namespace {

thread_local bool t_insideAudioIO = false;
std::atomic<bool> g_counting{false};
std::atomic<uint64_t> g_heapCalls{0};
std::atomic<uint64_t> g_frees{0};

// The stacks of the first few heap calls that are not the sort's, printed after the
// call so that a failure says where it came from. backtrace() writes into these
// fixed arrays; it is called once before counting so that its own first-use setup is
// done by then.
constexpr int kKeptStacks = 4;
constexpr int kStackDepth = 24;
void* g_stacks[kKeptStacks][kStackDepth];
int g_stackDepths[kKeptStacks];
std::atomic<int> g_keptStacks{0};

// Every heap call of the audio thread inside audioIO is counted; frees are counted
// apart as well, and the stacks of the first few are kept.
void noteHeapCall(bool isFree) noexcept {
    if (t_insideAudioIO && g_counting.load(std::memory_order_relaxed)) {
        g_heapCalls.fetch_add(1, std::memory_order_relaxed);
        if (isFree) {
            g_frees.fetch_add(1, std::memory_order_relaxed);
        }
        const int slot = g_keptStacks.fetch_add(1, std::memory_order_relaxed);
        if (slot < kKeptStacks) {
            t_insideAudioIO = false;  // backtrace may come back here
            g_stackDepths[slot] = backtrace(g_stacks[slot], kStackDepth);
            t_insideAudioIO = true;
        }
    }
}

#define NOTE_HEAP_CALL() noteHeapCall(false)

}  // namespace

extern "C" {
void* malloc(size_t size) {
    NOTE_HEAP_CALL();
    return __libc_malloc(size);
}
void* calloc(size_t n, size_t size) {
    NOTE_HEAP_CALL();
    return __libc_calloc(n, size);
}
void* realloc(void* p, size_t size) {
    NOTE_HEAP_CALL();
    return __libc_realloc(p, size);
}
void free(void* p) {
    noteHeapCall(true);
    __libc_free(p);
}
int posix_memalign(void** out, size_t alignment, size_t size) {
    NOTE_HEAP_CALL();
    void* p = __libc_memalign(alignment, size);
    if (p == nullptr) {
        return ENOMEM;
    }
    *out = p;
    return 0;
}
void* aligned_alloc(size_t alignment, size_t size) {
    NOTE_HEAP_CALL();
    return __libc_memalign(alignment, size);
}
void* memalign(size_t alignment, size_t size) {
    NOTE_HEAP_CALL();
    return __libc_memalign(alignment, size);
}
}

namespace {

// 2 s of the device's 48 kHz / 512-frame buffers before counting starts: the
// pipeline's first buffers set up the processing module's own state.
constexpr uint64_t kWarmUpBuffers = 2 * 48000 / 512;

qelcall::QelEntryPoints g_real;
std::atomic<uint64_t> g_buffers{0};
std::atomic<uint64_t> g_countedBuffers{0};
std::atomic<int> g_underrunLines{0};
std::atomic<int> g_insertionLines{0};

int countingAudioIO(QelClient* client, const float* const* inputs, int inputCount, float inputGain,
                    float* const* outputs, int outputCount, float outputGain) {
    if (g_buffers.fetch_add(1) == kWarmUpBuffers) {
        g_counting = true;
    }
    if (g_counting) {
        g_countedBuffers.fetch_add(1);
    }
    t_insideAudioIO = true;
    const int result = g_real.audioIO(client, inputs, inputCount, inputGain, outputs, outputCount, outputGain);
    t_insideAudioIO = false;
    return result;
}

// Keeps level 4 (the underrun and insertion messages) whatever the tool asks for.
void fineLogLevel(QelClient* client, int) { g_real.loglevel(client, 4); }

// Sees every line the call thread walks, to tell that the impairment did its work.
const LogWalkEntry* watchingLogWalk(QelClient* client) {
    const LogWalkEntry* entry = g_real.logwalk(client);
    if (entry != nullptr && g_counting) {
        const char* message = std::strchr(entry->text, ' ');
        message = message != nullptr ? message + 1 : entry->text;
        if (std::strstr(message, "Network underrun") != nullptr) {
            g_underrunLines.fetch_add(1);
        }
        if (std::strstr(message, "Jitter buffer packet inserted") != nullptr) {
            g_insertionLines.fetch_add(1);
        }
    }
    return entry;
}

struct HeapCount {
    uint64_t calls = 0;
    uint64_t frees = 0;
};

// One 6-second call through echo; counts from 2 s after the first audioIO on.
HeapCount countHeapCallsInACall(bool echoCancellation) {
    g_buffers = 0;
    g_countedBuffers = 0;
    g_heapCalls = 0;
    g_frees = 0;
    g_keptStacks = 0;
    {
        void* warm[2];
        backtrace(warm, 2);
    }
    g_underrunLines = 0;
    g_insertionLines = 0;
    qelcall::testing::ServerChild server(QEL_SERVER_PATH, {"--loss", "10", "--jitter", "100", "--reorder", "10", "--seed", "15"});
    EXPECT_NE(server.tcpPort(), 0);

    qelcall::QelLibrary library;
    std::string error;
    if (!library.load(QEL_LIBRARY_PATH, error)) {
        ADD_FAILURE() << error;
        return {};
    }
    g_real = library.api();
    qelcall::QelEntryPoints api = g_real;
    api.audioIO = &countingAudioIO;
    api.loglevel = &fineLogLevel;
    api.logwalk = &watchingLogWalk;

    // A voice to send: a tone with pauses, so the encoder works on changing input.
    qelcall::MonoAudio mic;
    mic.rate = qelcall::kDeviceRate;
    mic.samples.resize(8 * qelcall::kDeviceRate);
    for (size_t i = 0; i < mic.samples.size(); ++i) {
        const bool speaking = (i / 24000) % 3 != 2;
        mic.samples[i] = speaking ? 0.3f * static_cast<float>(std::sin(2 * M_PI * 440.0 * i / 48000)) : 0.0f;
    }
    mic.samples.shrink_to_fit();
    qelcall::WavWriter heard("", qelcall::kDeviceRate);  // figures only, no file
    qelcall::CallOptions options;
    options.port = server.tcpPort();
    options.seconds = 6;
    options.echoCancellation = echoCancellation;
    qelcall::CallStatistics stats;
    const std::atomic<bool> stop{false};
    const std::string failure = qelcall::runCall(api, options, mic, heard, stats, stop);
    g_counting = false;
    heard.finish();
    for (int i = 0; i < std::min(g_keptStacks.load(), kKeptStacks); ++i) {
        std::fprintf(stderr, "heap call %d on the audio thread:\n", i + 1);
        backtrace_symbols_fd(g_stacks[i], g_stackDepths[i], 2);
    }
    EXPECT_EQ(failure, "");
    EXPECT_TRUE(stats.connected && stats.viaUdp);

    std::printf("echo cancellation %s: %llu heap calls (%llu of them frees) in %llu device buffers after "
                "warm-up; %d underrun and %d insertion lines; %llu packets received of %llu sent\n",
                echoCancellation ? "on" : "off", static_cast<unsigned long long>(g_heapCalls.load()),
                static_cast<unsigned long long>(g_frees.load()),
                static_cast<unsigned long long>(g_countedBuffers.load()), g_underrunLines.load(),
                g_insertionLines.load(), static_cast<unsigned long long>(stats.udpReceived),
                static_cast<unsigned long long>(stats.udpSent));
    // About 4 s counted at 93.75 buffers a second.
    EXPECT_GT(g_countedBuffers.load(), 300u);
    // The impairment reached the jitter buffer in the counted part of the call: lost
    // packets are underruns; late ones mostly make it insert a frame too (not in every
    // run, so that is only printed).
    EXPECT_GT(g_underrunLines.load(), 0);
    return {g_heapCalls.load(), g_frees.load()};
}

TEST(AudioThreadHeap, NoHeapCallInsideAudioIOThroughALossyJitteryCall) {
    const HeapCount count = countHeapCallsInACall(false);
    EXPECT_EQ(count.calls, 0u);
}

// With the echo canceller on as well: its comfort-noise generator used to give back
// its start-up estimate on the audio thread about 4 s into each call. It no longer does.
TEST(AudioThreadHeap, NoHeapCallWithEchoCancellationOn) {
    const HeapCount count = countHeapCallsInACall(true);
    EXPECT_EQ(count.calls, 0u);
    EXPECT_EQ(count.frees, 0u);
}

}  // namespace
