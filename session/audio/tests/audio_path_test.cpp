// The AudioPath over long runs: FIFO invariants with drifting clocks and stalled
// encoding, and no allocation on the audio callback thread.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <random>
#include <vector>

#include "audio_test_support.h"

namespace {

// Counts operator new calls made while the calling thread has counting switched on.
thread_local bool t_counting = false;
thread_local long t_allocations = 0;

}  // namespace

// Sanitizer runtimes bring their own operator new; the count runs in plain builds.
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
#define QEL_COUNT_ALLOCATIONS 1

// The replacements pair malloc with free on purpose; GCC cannot see that every
// new and delete of the program are these.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

void* operator new(size_t size) {
    if (t_counting) {
        ++t_allocations;
    }
    if (void* p = std::malloc(size == 0 ? 1 : size)) {
        return p;
    }
    throw std::bad_alloc();
}
void* operator new[](size_t size) { return operator new(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }
#endif

namespace {

using qeltest::RecordingLog;

void expectInvariants(const qel::AudioPath& path) {
    const auto& c = path.captureFifo();
    const auto& p = path.playbackFifo();
    ASSERT_GE(c.done(), 0);
    ASSERT_LE(c.done(), c.count());
    ASSERT_LE(c.count(), qel::SampleFifo::kCapacity);
    ASSERT_GE(p.done(), 0);
    ASSERT_LE(p.done(), p.count());
    ASSERT_LE(p.count(), qel::SampleFifo::kCapacity);
}

// Two ends of a call on simulated time: the far end sends a frame every 20 ms of its
// own clock, the near end's device runs `deviceDrift` fast or slow against the near
// poll clock, and in [stallFrom, stallTo) the near end encodes nothing.
TEST(AudioPath, LongRunWithDriftingClocksKeepsTheFifosInBounds) {
    RecordingLog farLog;
    RecordingLog nearLog;
    qel::VoiceAudio far(farLog);
    qel::VoiceAudio near(nearLog);
    ASSERT_TRUE(qeltest::startCallEnd(far, 1024));
    ASSERT_TRUE(qeltest::startCallEnd(near, 1024));
    const uint32_t seed = 20240611;
    std::mt19937 rng(seed);
    SCOPED_TRACE(testing::Message() << "seed " << seed);
    const auto farSignal = qeltest::speechLike(48000, 3.0, 1);
    const auto nearSignal = qeltest::speechLike(48000, 3.0, 2);

    const double seconds = 150.0;
    const double stallFrom = 50.0;
    const double stallTo = 100.0;
    double farDevice = 0.0, nearDevice = 0.0, nearPoll = 0.0;
    size_t farPos = 0, nearPos = 0;
    uint64_t droppedAtStallEnd = 0;
    for (double t = 0.0; t < seconds; t += 0.0005) {
        // Drift flips sign every 25 s: +0.7 %, then -0.7 %.
        const double drift = (static_cast<int>(t / 25.0) % 2 == 0) ? 0.007 : -0.007;
        const double farPeriod = 512.0 / 48000.0 * (1.0 - drift);
        const double nearPeriod = 512.0 / 48000.0 * (1.0 + drift);
        if (t >= farDevice) {
            farDevice += farPeriod;
            qeltest::runBuffer(far, farSignal.data() + farPos, 512, nullptr);
            farPos = (farPos + 512) % (farSignal.size() - 512);
            // Network: far frames arrive with a little jitter in their order.
            auto payloads = qeltest::takePayloads(far);
            if (payloads.size() > 1 && rng() % 4 == 0) {
                std::swap(payloads[0], payloads[1]);
            }
            for (auto& p : payloads) {
                near.onAudioPacket(p.data(), static_cast<int32_t>(p.size()), 1);
            }
        }
        if (t >= nearDevice) {
            nearDevice += nearPeriod;
            qeltest::runBuffer(near, nearSignal.data() + nearPos, 512, nullptr);
            nearPos = (nearPos + 512) % (nearSignal.size() - 512);
            expectInvariants(near.path());
        }
        if (t >= nearPoll) {
            nearPoll += 0.020;
            if (t >= stallTo && droppedAtStallEnd == 0) {
                droppedAtStallEnd = near.path().droppedCaptureSamples();
            }
            if (t < stallFrom || t >= stallTo) {
                uint8_t payload[1008];
                qeltest::sealFrame(near, payload);
            }
        }
    }
    // While nothing was encoded the FIFO filled up and the oldest audio went.
    EXPECT_GT(droppedAtStallEnd, 32000u * 40);  // 50 s of stall less 2 s of room, at 32 kHz
    EXPECT_LE(near.path().captureFifo().count(), qel::SampleFifo::kCapacity);
    // A slow far clock slips a frame every 2.9 s (about 26 times here); each slip may
    // cost the buffer one missing frame and one inserted frame, never a burst of them.
    const int underruns = nearLog.count("Network underrun");
    const int insertions = nearLog.count("Jitter buffer packet inserted");
    std::printf("150 s with drift: %d underruns, %d insertions\n", underruns, insertions);
    EXPECT_LT(underruns + insertions, 100);
    EXPECT_EQ(near.skippedBuffers(), 0u);
}

// Packets that arrive in time for the get that plays them: both ends on one device
// clock (48 kHz, 512 frames), the far end's frames reach the near end `delay` after
// the buffer that completed them. Each get then finds the one packet it needs, so the
// jitter buffer holds nothing when the next one comes ("jb=0" on the statistics lines,
// which give its count just before a put). A buffer that waits a frame too long shows
// "jb=1" there, and plays everything 20 ms later.
TEST(AudioPath, JitterBufferHoldsNoFrameBeyondWhatArrivalsRequire) {
    const auto signal = qeltest::speechLike(48000, 1.0, 4);
    const double buffer = 512.0 / 48.0;  // ms
    for (const double delay : {0.2, 2.5, 6.0, 9.5}) {
        SCOPED_TRACE(testing::Message() << "network delay " << delay << " ms");
        RecordingLog farLog;
        RecordingLog nearLog;
        qel::VoiceAudio far(farLog);
        qel::VoiceAudio near(nearLog);
        ASSERT_TRUE(qeltest::startCallEnd(far, 0, false));
        ASSERT_TRUE(qeltest::startCallEnd(near, 0, false));
        struct InFlight {
            double arrival;
            std::vector<uint8_t> payload;
        };
        std::vector<InFlight> network;
        size_t pos = 0;
        for (int j = 0; j < 1500; ++j) {  // 16 s
            const double now = j * buffer;
            // What has arrived by now goes in before this buffer's callback.
            for (auto it = network.begin(); it != network.end() && it->arrival <= now;) {
                near.onAudioPacket(it->payload.data(), static_cast<int32_t>(it->payload.size()), 1);
                it = network.erase(it);
            }
            qeltest::runBuffer(near, signal.data(), 512, nullptr);
            qeltest::runBuffer(far, signal.data() + pos, 512, nullptr);
            pos = (pos + 512) % (signal.size() - 512);
            for (auto& p : qeltest::takePayloads(far)) {
                network.push_back({now + buffer + delay, std::move(p)});
            }
        }
        std::vector<int> depths;
        for (const auto& l : nearLog.lines()) {
            int jb = -1;
            if (std::sscanf(l.text.c_str(), "jb=%d,", &jb) == 1) {
                depths.push_back(jb);
            }
        }
        ASSERT_GE(depths.size(), 10u);
        // The first line comes while the buffer is still finding its pace.
        for (size_t i = 1; i < depths.size(); ++i) {
            EXPECT_EQ(depths[i], 0) << "statistics line " << i;
        }
        EXPECT_EQ(nearLog.count("Jitter buffer packet inserted"), 0);
    }
}

// Counts messages without storing them, so that the count of allocations is the
// pipeline's own (the client's log appends into blocks it already has).
class CountingLog : public qel::AudioLog {
public:
    void vlog(int, const char*, va_list) override { m_count.fetch_add(1); }
    void vlogRepeated(int, int, const char*, va_list) override { m_count.fetch_add(1); }
    int count() const { return m_count.load(); }

private:
    std::atomic<int> m_count{0};
};

TEST(AudioPath, AudioCallbackAllocatesNothing) {
#ifndef QEL_COUNT_ALLOCATIONS
    GTEST_SKIP() << "allocation counting needs the plain build";
#endif
    CountingLog log;
    qel::VoiceAudio far(log);
    qel::VoiceAudio near(log);
    ASSERT_TRUE(qeltest::startCallEnd(far, 0));
    ASSERT_TRUE(qeltest::startCallEnd(near, 0));
    const auto signal = qeltest::speechLike(48000, 2.0, 3);
    std::vector<float> in(512), o1(512), o2(512);
    const float* inputs[1] = {in.data()};
    float* outputs[2] = {o1.data(), o2.data()};
    long allocations = 0;
    for (size_t pos = 0; pos + 512 <= signal.size(); pos += 512) {
        std::copy(signal.begin() + static_cast<long>(pos), signal.begin() + static_cast<long>(pos) + 512,
                  in.begin());
        t_allocations = 0;
        // The first half second is warm-up: the processing module sets itself up
        // lazily on its first blocks. After that the callback must not allocate.
        t_counting = pos >= 24000;
        far.audioIO(inputs, 1, 1.0f, outputs, 2, 1.0f);
        near.audioIO(inputs, 1, 1.0f, outputs, 2, 1.0f);
        t_counting = false;
        allocations += t_allocations;
        qeltest::relayFrames(far, near);
    }
    EXPECT_EQ(allocations, 0);
    EXPECT_GT(log.count(), 0);  // the far end's underruns were logged on the way
}

}  // namespace
