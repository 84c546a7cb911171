// The AudioPath: what lies between the device buffers and the codec frames.
//
//   device in --capture converter--> capture FIFO --processing module--> encoder
//   device out <--playback converter-- playback FIFO <--decoder <-- jitter buffer
//
// Three threads of work meet here and are serialised by the path lock: the audio
// callback (processing, holder 1), the poll tick (encoder step, holder 2) and the
// receive path (queueing a received frame, holder 3). A format change (set-up, holder
// 4) takes it too, since a caller's reader thread may queue a frame at any time;
// clearing takes none: the caller runs it while none of the others runs.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "platform/spin_lock.h"
#include "session/audio/jitter_trim.h"
#include "session/audio/packet_pool.h"
#include "session/audio/rate_converter.h"
#include "session/audio/sample_fifo.h"
#include "session/audio/stage_probe.h"

struct JitterBuffer_;

namespace qel {

class AudioProcessor;
class AudioTap;
class VoiceCodec;

enum class PathHolder : int32_t { kAudioIO = 1, kEncoder = 2, kReceive = 3, kSetup = 4 };

class AudioPath {
public:
    static constexpr int kInternalRate = 32000;
    static constexpr int kFrameSamples = 640;
    static constexpr int kBlockSamples = 320;
    static constexpr int kMaxEncodedBytes = 1000;
    // The jitter buffer judges a packet by timestamp - arrival - margin and rounds that
    // down to its 640 step, so any margin above 0 counts a packet that arrives just in
    // time as a step late and buys a whole frame (20 ms) of delay for the call.
    static constexpr int kJitterMargin = 0;
    // Without a margin, the buffer's own trade-off would play up to one packet in 25
    // late (a gap each) before it adds a frame of delay, and starts counting afresh
    // after every change: a clock that runs slow against ours costs a burst of gaps at
    // each slip. This cost (per late packet, against 640 per frame of delay) makes the
    // first late packet enough. The buffer's own shrink waits until its window of
    // arrivals has forgotten the late ones (13 to 20 s) and then drops the whole excess
    // at once; JitterTrim gives it back sooner, a frame at a time, in the pauses.
    static constexpr int kJitterLateCost = 10000;
    // Frames queued with no device buffer in between beyond which the queue is stale:
    // half a second of the far end, where a running device takes one every few tens of
    // milliseconds.
    static constexpr int kStaleBacklog = 25;

    // Results of the processing step, as the jitter buffer reports them.
    static constexpr int kJitterOk = 0;
    // Encoder step: no processed frame was waiting (or the lock stayed busy).
    static constexpr int kNoFrame = -1;

    AudioPath(VoiceCodec& codec, AudioProcessor& processor);
    ~AudioPath();
    AudioPath(const AudioPath&) = delete;
    AudioPath& operator=(const AudioPath&) = delete;

    // Device format. Returns 2 when set up, 0 when the jitter buffer (or a FIFO) could
    // not be created. The caller has already handled "unchanged" and refused invalid
    // values. Safe beside queueFrame on another thread (it waits for the path lock);
    // never beside process or encodeStep.
    int setup(int32_t rate, int32_t frames, int32_t latency) noexcept;

    // Empties both FIFOs, the converters' running state and the jitter buffer; keeps
    // the device format.
    void clear() noexcept;

    bool ready() const noexcept { return m_capture.allocated() && m_playback.allocated(); }
    int32_t deviceRate() const noexcept { return m_deviceRate; }
    int32_t frames() const noexcept { return m_frames; }
    int streamDelayMs() const noexcept { return m_streamDelayMs; }

    platform::SpinLock& lock() noexcept { return m_lock; }

    // Receives every processed capture block (null: none). Set while no audio runs.
    void setTap(AudioTap* tap) noexcept { m_tap = tap; }

    // The processing step; the caller holds the lock as PathHolder::kAudioIO.
    // `deviceIn` and `deviceOut` hold `n` samples at the device rate. Returns 0 when
    // every jitter-buffer get succeeded, else the last non-zero result. When more than
    // kStaleBacklog frames were queued since the previous call, the path is cleared
    // first: what the far end said while the device was away is not played late.
    // Real-time: allocates nothing, blocks on nothing.
    int process(const int16_t* deviceIn, int16_t* deviceOut, int n) noexcept;
    // Whether the last process() call completed a processed frame for the encoder
    // (read by the same thread, right after it).
    bool frameCompleted() const noexcept { return m_frameCompleted; }

    // Encoder step: when a whole processed frame waits, encodes it into `out` (room
    // kMaxEncodedBytes) and takes it off the FIFO. Returns the encoded byte count (0
    // when the encoder gave nothing; the frame is used up all the same), kNoFrame when
    // no whole frame was waiting. Takes the lock as PathHolder::kEncoder; if the lock
    // cannot be had, encodes nothing this time (kNoFrame).
    int encodeStep(uint8_t* out) noexcept;

    // Receive step's queueing: puts a deciphered frame into the jitter buffer under the
    // lock (PathHolder::kReceive). `available` receives the jitter buffer's packet
    // count from just before the put. False when there is no jitter buffer yet or the
    // lock cannot be had; the frame is then dropped.
    bool queueFrame(const uint8_t* frame, int length, uint32_t sequence, int& available) noexcept;

    // Diagnostics (any thread, relaxed reads).
    const SampleFifo& captureFifo() const noexcept { return m_capture; }
    const SampleFifo& playbackFifo() const noexcept { return m_playback; }
    uint64_t droppedCaptureSamples() const noexcept { return m_droppedCapture.load(std::memory_order_relaxed); }
    uint64_t paddedCaptureSamples() const noexcept { return m_paddedCapture.load(std::memory_order_relaxed); }
    uint32_t lockMisses() const noexcept { return m_lockMisses.load(std::memory_order_relaxed); }
    // Received frames dropped because no pool slot was free or the frame was too long.
    uint32_t droppedFrames() const noexcept { return m_droppedFrames.load(std::memory_order_relaxed); }
    void countLockMiss() noexcept { m_lockMisses.fetch_add(1, std::memory_order_relaxed); }

    // The latency benchmarks' stamps; off unless armed.
    StageProbe& probe() noexcept { return m_probe; }

private:
    struct JitterDeleter {
        void operator()(JitterBuffer_* jitter) const noexcept;
    };

    void capture(const int16_t* deviceIn, int n) noexcept;
    int refillPlayback() noexcept;
    void processBlock() noexcept;
    void makeRoom(int needed) noexcept;
    void resetJitter() noexcept;

    platform::SpinLock m_lock;
    int32_t m_deviceRate = 0;
    int32_t m_frames = 0;
    RateConverter m_captureConverter;
    RateConverter m_playbackConverter;
    int m_streamDelayMs = 0;
    SampleFifo m_playback;
    SampleFifo m_capture;
    // Declared before the jitter buffer, which gives its packets back here as it goes.
    PacketPool m_pool;
    VoiceCodec& m_codec;
    AudioProcessor& m_processor;
    std::unique_ptr<JitterBuffer_, JitterDeleter> m_jitter;
    JitterTrim m_trim;
    // The far-end block handed to the processing module.
    int16_t m_block[kBlockSamples] = {};
    // The frame the encoder step works on once it has left the FIFO (call thread).
    int16_t m_encodeFrame[kFrameSamples] = {};
    AudioTap* m_tap = nullptr;
    StageProbe m_probe;
    bool m_frameCompleted = false;
    // Frames queued since the processing step last ran (path lock).
    int m_queuedSinceTaken = 0;

    std::atomic<uint64_t> m_droppedCapture{0};
    std::atomic<uint64_t> m_paddedCapture{0};
    std::atomic<uint32_t> m_lockMisses{0};
    std::atomic<uint32_t> m_droppedFrames{0};
};

}  // namespace qel
