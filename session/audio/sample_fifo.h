// A first-in-first-out run of 16-bit samples at the pipeline rate.
//
// Samples always start at the front of the block: the write position is the count,
// and taking samples off the front moves the rest down. The runs held here are short
// (a few hundred samples in steady state), so the move is cheaper than ring
// arithmetic in every reader. Besides the count, the FIFO tracks how many of the
// front samples are "done" (processed, for capture; consumed by the device, for
// playback), with done <= count <= capacity at all times.
#pragma once

#include <cstdint>
#include <memory>

namespace qel {

class SampleFifo {
public:
    static constexpr int kCapacity = 65536;

    // Allocates the block on first use (zeroed) and empties the FIFO. Returns false
    // when memory runs out; the FIFO then stays absent.
    bool allocate() noexcept;
    void release() noexcept { m_samples.reset(); clear(); }
    bool allocated() const noexcept { return m_samples != nullptr; }

    void clear() noexcept {
        m_count = 0;
        m_done = 0;
    }

    int16_t* data() noexcept { return m_samples.get(); }
    const int16_t* data() const noexcept { return m_samples.get(); }
    int16_t* writePosition() noexcept { return m_samples.get() + m_count; }

    int count() const noexcept { return m_count; }
    int done() const noexcept { return m_done; }
    int room() const noexcept { return kCapacity - m_count; }
    int pending() const noexcept { return m_count - m_done; }

    // The caller wrote `n` samples at writePosition(); n <= room().
    void append(int n) noexcept { m_count += n; }
    // `n` more front samples are done; n <= pending().
    void markDone(int n) noexcept { m_done += n; }

    // Takes `n` samples (n <= count()) off the front; the done count shrinks with
    // them, but never below zero.
    void removeFront(int n) noexcept;

    // Appends `n` zero samples (n <= room()).
    void appendSilence(int n) noexcept;

private:
    std::unique_ptr<int16_t[]> m_samples;
    int m_count = 0;
    int m_done = 0;
};

}  // namespace qel
