// Times one loud sound (a click) through the stages of the audio path, for the latency
// benchmarks: when the 640-sample frame holding it was complete in the capture FIFO,
// when the tick encoded it, when its echo was queued in the jitter buffer, and when the
// jitter buffer handed it to the decoder.
//
// Off until a reader arms it, and then it watches for one click only. The pipeline's
// seams look at it with one relaxed load each while it is off; armed, the capture side
// scans each processed 10-ms block once until the click is found. No allocation, no
// lock of its own: the stamps are written under the path lock by the audio thread
// (capture, decode) and the call thread (encode, queue), and read by anyone.
//
// Times are microseconds of std::chrono::steady_clock, so that a reader in the same
// process compares them with its own readings. The shipped library has no way to arm
// it; the benchmarks' build of the library exports stageProbe() to reach it.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

namespace qel {

class StageProbe {
public:
    static constexpr int64_t kNotYet = 0;

    // Reader: forgets the last click and watches for the next processed capture block
    // with a sample of at least `threshold` in magnitude (16-bit scale; > 0).
    void arm(int32_t threshold) noexcept {
        for (std::atomic<int64_t>* stamp : {&m_readyUs, &m_encodedUs, &m_queuedUs, &m_decodedUs}) {
            stamp->store(kNotYet, std::memory_order_relaxed);
        }
        m_frameEnd.store(-1, std::memory_order_relaxed);
        m_timestamp.store(0, std::memory_order_relaxed);
        m_timestampKnown.store(false, std::memory_order_relaxed);
        m_queuedAhead.store(-1, std::memory_order_relaxed);
        m_threshold.store(threshold, std::memory_order_release);
    }
    void disarm() noexcept { m_threshold.store(0, std::memory_order_release); }

    // The stamps; kNotYet until the click has passed that seam.
    int64_t readyUs() const noexcept { return m_readyUs.load(std::memory_order_acquire); }
    int64_t encodedUs() const noexcept { return m_encodedUs.load(std::memory_order_acquire); }
    int64_t queuedUs() const noexcept { return m_queuedUs.load(std::memory_order_acquire); }
    int64_t decodedUs() const noexcept { return m_decodedUs.load(std::memory_order_acquire); }
    // Packets the jitter buffer held when the click's frame was queued; -1 before.
    int32_t queuedAhead() const noexcept { return m_queuedAhead.load(std::memory_order_acquire); }

    static int64_t nowUs() noexcept {
        return std::chrono::duration_cast<std::chrono::microseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }

    // The pipeline's side; the caller holds the path lock for all but sent().

    // A processed block went into the capture FIFO at `index` (samples from the FIFO's
    // front, which is always where a frame starts); `done` is the processed count after.
    void blockProcessed(const int16_t* block, int count, int index, int done) noexcept {
        const int32_t threshold = m_threshold.load(std::memory_order_acquire);
        if (threshold <= 0) {
            return;
        }
        int frameEnd = m_frameEnd.load(std::memory_order_relaxed);
        if (frameEnd < 0 && m_readyUs.load(std::memory_order_relaxed) == kNotYet) {
            for (int i = 0; i < count; ++i) {
                if (block[i] >= threshold || block[i] <= -threshold) {
                    frameEnd = ((index + i) / kFrame + 1) * kFrame;
                    m_frameEnd.store(frameEnd, std::memory_order_relaxed);
                    break;
                }
            }
        }
        if (frameEnd > 0 && done >= frameEnd && m_readyUs.load(std::memory_order_relaxed) == kNotYet) {
            m_readyUs.store(nowUs(), std::memory_order_release);
        }
    }

    // `removed` samples left the FIFO's front; true when they held the click's frame.
    bool frontRemoved(int removed) noexcept {
        const int frameEnd = m_frameEnd.load(std::memory_order_relaxed);
        if (frameEnd <= 0) {
            return false;
        }
        const bool isClick = frameEnd <= removed;
        m_frameEnd.store(isClick ? 0 : frameEnd - removed, std::memory_order_relaxed);
        return isClick;
    }
    // The click's frame was encoded now.
    void encoded() noexcept { m_encodedUs.store(nowUs(), std::memory_order_release); }
    bool awaitingSequence() const noexcept {
        return m_encodedUs.load(std::memory_order_relaxed) != kNotYet &&
               !m_timestampKnown.load(std::memory_order_acquire);
    }
    // The sequence number the click's frame went out with (call thread, after encoded()).
    void sent(uint32_t timestamp) noexcept {
        m_timestamp.store(timestamp, std::memory_order_relaxed);
        m_timestampKnown.store(true, std::memory_order_release);
    }

    bool isClick(uint32_t timestamp) const noexcept {
        return m_timestampKnown.load(std::memory_order_acquire) &&
               m_timestamp.load(std::memory_order_relaxed) == timestamp;
    }
    // A received frame with jitter-buffer `timestamp` was queued behind `ahead` packets.
    void queued(uint32_t timestamp, int32_t ahead) noexcept {
        if (isClick(timestamp) && m_queuedUs.load(std::memory_order_relaxed) == kNotYet) {
            m_queuedAhead.store(ahead, std::memory_order_relaxed);
            m_queuedUs.store(nowUs(), std::memory_order_release);
        }
    }
    // The jitter buffer handed the frame with `timestamp` to the decoder.
    void decoded(uint32_t timestamp) noexcept {
        if (isClick(timestamp) && m_decodedUs.load(std::memory_order_relaxed) == kNotYet) {
            m_decodedUs.store(nowUs(), std::memory_order_release);
        }
    }

private:
    static constexpr int kFrame = 640;

    std::atomic<int32_t> m_threshold{0};
    // End of the click's frame, in samples from the capture FIFO's front: -1 while
    // watching, 0 once the frame has left the FIFO.
    std::atomic<int> m_frameEnd{-1};
    std::atomic<uint32_t> m_timestamp{0};
    std::atomic<bool> m_timestampKnown{false};
    std::atomic<int32_t> m_queuedAhead{-1};
    std::atomic<int64_t> m_readyUs{kNotYet};
    std::atomic<int64_t> m_encodedUs{kNotYet};
    std::atomic<int64_t> m_queuedUs{kNotYet};
    std::atomic<int64_t> m_decodedUs{kNotYet};
};

}  // namespace qel
