// A call recorder: a 16-bit PCM WAV file fed from the audio callback.
//
// The audio thread only ever calls push, which copies samples into a preallocated
// lock-free ring; the call thread's poll tick calls drain, which moves them to the file.
// finish drains what is left, writes the final RIFF and data sizes into the header and
// closes the file.
//
// Threads: push from one audio thread (real-time safe: no allocation, no lock, no I/O);
// start, finish and drain from any other threads, serialised by the recorder's mutex
// (drain only tries it, so a poll tick never waits behind a file being opened).
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <mutex>

#include "platform/unique_resource.h"
#include "session/sample_ring.h"

namespace session {

struct StdioFileTraits {
    using Handle = std::FILE*;
    static constexpr Handle empty() noexcept { return nullptr; }
    static void close(Handle file) noexcept { std::fclose(file); }
};
using StdioFile = platform::UniqueResource<StdioFileTraits>;

class WavRecorder {
public:
    static constexpr uint32_t kHeaderBytes = 44;
    static constexpr uint16_t kBitsPerSample = 16;

    // `channels` per frame (1 or 2); the ring holds `ringSamples` samples (a power of
    // two), allocated at the first start.
    WavRecorder(uint16_t channels, size_t ringSamples) noexcept
        : m_channels(channels), m_ringSamples(ringSamples) {}
    ~WavRecorder() { finish(); }
    WavRecorder(const WavRecorder&) = delete;
    WavRecorder& operator=(const WavRecorder&) = delete;

    // Ends any recording in progress, then creates or truncates `path` and writes a
    // header for `rate` with empty data. False when the file cannot be created (the
    // recorder is then closed).
    [[nodiscard]] bool start(const char* path, uint32_t rate) noexcept;

    // Drains the ring, rewrites the header with the sizes of what was written and
    // closes the file. Nothing happens while no recording is open.
    void finish() noexcept;

    // Moves what the ring holds to the file. Skips when start or finish is running.
    void drain() noexcept;

    // Audio thread. Appends `frames` frames, one sample per channel taken from
    // channels[c][i] (a null channel records silence). Samples that do not fit in the
    // ring are counted and become silence in the file, so the recording keeps its
    // timing. Returns the frames that went into the ring (0 while not recording).
    size_t push(const int16_t* const* channels, size_t frames) noexcept;

    bool recording() const noexcept { return m_state.load(std::memory_order_acquire) != kClosed; }
    uint16_t channels() const noexcept { return m_channels; }
    // Frames the file has lost to a full ring since the recording started.
    uint64_t overrunFrames() const noexcept { return m_overrunTotal.load(std::memory_order_relaxed); }

private:
    // Who may touch the ring's producer side: push moves Open to Pushing and back;
    // finish moves Open to Closed, waiting out a push in progress.
    enum State : int { kClosed, kOpen, kPushing };

    void finishLocked() noexcept;
    void drainLocked() noexcept;
    void writeHeader() noexcept;
    // Appends samples, stopping where the data chunk would outgrow its 32-bit size.
    void appendSamples(const int16_t* samples, size_t count) noexcept;
    void appendSilence(uint64_t samples) noexcept;

    const uint16_t m_channels;
    const size_t m_ringSamples;
    std::mutex m_mutex;
    std::atomic<int> m_state{kClosed};
    std::atomic<uint64_t> m_overrun{0};  // frames lost since the last drain
    std::atomic<uint64_t> m_overrunTotal{0};
    SampleRing<int16_t> m_ring;

    // Guarded by m_mutex.
    StdioFile m_file;
    uint32_t m_rate = 0;
    uint32_t m_dataBytes = 0;
};

}  // namespace session
