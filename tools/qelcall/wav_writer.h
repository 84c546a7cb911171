// What a call hears, written to a 16-bit mono WAV file while the call goes on, through a
// buffer of fixed size: a call of any length costs the same memory.
//
// The audio thread hands every device buffer to push(), which only copies it into a
// preallocated single-producer ring (no allocation, lock or I/O). A writer thread of the
// writer's own moves the ring to the file every few tens of milliseconds and rewrites the
// header's RIFF and data sizes after each batch, so the file on disk is a whole WAV file
// at every moment: after finish(), after a signal ends the call, and even after the
// process is killed (then without the last batch).
//
// Threads: push from one audio thread; everything else from one control thread. The file
// is created by the writer thread when the first audio arrives, so a call that never
// carried audio leaves no file.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "session/sample_ring.h"

namespace qelcall {

class WavWriter {
public:
    // 2^17 samples: 2.7 s at 48 kHz, far more than one writer pass ever leaves behind.
    static constexpr size_t kRingSamples = size_t{1} << 17;
    static constexpr uint32_t kHeaderBytes = 44;

    // `path` empty: nothing is written, the figures are still kept. `keepSeconds` of the
    // start stay in memory as well, for an analysis after the call (0: none).
    WavWriter(std::string path, int rate, double keepSeconds = 0);
    ~WavWriter();
    WavWriter(const WavWriter&) = delete;
    WavWriter& operator=(const WavWriter&) = delete;

    // Audio thread: appends `count` samples (-1..1). What does not fit in the ring is
    // counted and written as silence, so the file keeps the call's timing.
    void push(const float* samples, size_t count) noexcept;

    // Control thread, once the audio thread has stopped pushing: writes what is left,
    // the final sizes, and closes the file. False when the file could not be created or
    // written. Later calls return the same answer.
    bool finish();

    int rate() const noexcept { return m_rate; }
    // Samples heard so far (written or not), their RMS, and the kept start.
    uint64_t samplesHeard() const noexcept { return m_heard.load(std::memory_order_relaxed); }
    double rms() const;
    const std::vector<float>& kept() const noexcept { return m_kept; }
    uint64_t droppedSamples() const noexcept { return m_droppedTotal.load(std::memory_order_relaxed); }

private:
    void writerThread();
    // Moves the ring (and any silence owed for dropped samples) to the file. Writer
    // thread, or the control thread after the writer thread has ended.
    void drain();
    void writeSamples(const float* samples, size_t count);
    void patchSizes();
    bool openFile();

    const std::string m_path;
    const int m_rate;
    const size_t m_keepLimit;
    session::SampleRing<float> m_ring;
    std::atomic<uint64_t> m_heard{0};
    std::atomic<uint64_t> m_dropped{0};       // owed as silence, taken by drain
    std::atomic<uint64_t> m_droppedTotal{0};

    // Writer side.
    std::FILE* m_file = nullptr;
    bool m_failed = false;
    uint32_t m_dataBytes = 0;
    double m_sumSquares = 0;
    uint64_t m_counted = 0;
    std::vector<float> m_kept;
    std::vector<int16_t> m_pcm;

    mutable std::mutex m_mutex;  // figures read by the control thread; the stop flag
    std::condition_variable m_wake;
    bool m_stop = false;
    bool m_finished = false;
    std::thread m_writer;
};

}  // namespace qelcall
