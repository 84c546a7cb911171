#include "session/wav_recorder.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <thread>

namespace session {

namespace {

// Samples go to the file as they lie in memory; WAV wants little-endian, which every
// target of this library is.
static_assert(std::endian::native == std::endian::little);

// The data chunk's size is a 32-bit field and the RIFF size adds 36 to it.
constexpr uint32_t kMaxDataBytes = UINT32_MAX - 36;

void put16(uint8_t* at, uint16_t value) noexcept {
    at[0] = static_cast<uint8_t>(value);
    at[1] = static_cast<uint8_t>(value >> 8);
}

void put32(uint8_t* at, uint32_t value) noexcept {
    put16(at, static_cast<uint16_t>(value));
    put16(at + 2, static_cast<uint16_t>(value >> 16));
}

}  // namespace

bool WavRecorder::start(const char* path, uint32_t rate) noexcept {
    std::lock_guard<std::mutex> guard(m_mutex);
    finishLocked();
    if (path == nullptr || !m_ring.allocate(m_ringSamples)) {
        return false;
    }
    // fopen shares the file with other readers and writers on every platform.
    m_file.reset(std::fopen(path, "wb"));
    if (!m_file) {
        return false;
    }
    m_rate = rate;
    m_dataBytes = 0;
    m_overrun.store(0, std::memory_order_relaxed);
    m_overrunTotal.store(0, std::memory_order_relaxed);
    m_ring.clear();
    writeHeader();
    // Publishes the cleared ring to the audio thread.
    m_state.store(kOpen, std::memory_order_release);
    return true;
}

void WavRecorder::finish() noexcept {
    std::lock_guard<std::mutex> guard(m_mutex);
    finishLocked();
}

void WavRecorder::finishLocked() noexcept {
    if (!m_file) {
        return;
    }
    // Stop the producer, waiting out a push in progress (a bounded copy, no blocking).
    int expected = kOpen;
    while (!m_state.compare_exchange_weak(expected, kClosed, std::memory_order_acq_rel)) {
        if (expected == kClosed) {
            break;
        }
        expected = kOpen;
        std::this_thread::yield();
    }
    drainLocked();
    writeHeader();
    m_file.reset();
}

void WavRecorder::drain() noexcept {
    std::unique_lock<std::mutex> guard(m_mutex, std::try_to_lock);
    if (guard.owns_lock() && m_file) {
        drainLocked();
    }
}

void WavRecorder::drainLocked() noexcept {
    for (std::span<const int16_t> run = m_ring.readSpan(); !run.empty(); run = m_ring.readSpan()) {
        appendSamples(run.data(), run.size());
        m_ring.commitRead(run.size());
    }
    // Frames lost to a full ring were pushed after what the ring held.
    if (const uint64_t lost = m_overrun.exchange(0, std::memory_order_relaxed)) {
        appendSilence(lost * m_channels);
    }
    // What reached the file is readable by others, and survives a crash of the process.
    std::fflush(m_file.get());
}

size_t WavRecorder::push(const int16_t* const* channels, size_t frames) noexcept {
    int expected = kOpen;
    if (!m_state.compare_exchange_strong(expected, kPushing, std::memory_order_acquire)) {
        return 0;
    }
    const size_t fit = std::min(frames, m_ring.writeAvailable() / m_channels);
    size_t at = 0;
    for (size_t i = 0; i < fit; ++i) {
        for (uint16_t c = 0; c < m_channels; ++c) {
            m_ring.slot(at++) = channels[c] != nullptr ? channels[c][i] : 0;
        }
    }
    m_ring.commitWrite(at);
    if (fit < frames) {
        m_overrun.fetch_add(frames - fit, std::memory_order_relaxed);
        m_overrunTotal.fetch_add(frames - fit, std::memory_order_relaxed);
    }
    m_state.store(kOpen, std::memory_order_release);
    return fit;
}

void WavRecorder::appendSamples(const int16_t* samples, size_t count) noexcept {
    const size_t room = (kMaxDataBytes - m_dataBytes) / sizeof(int16_t);
    count = std::min(count, room);
    const size_t written = std::fwrite(samples, sizeof(int16_t), count, m_file.get());
    m_dataBytes += static_cast<uint32_t>(written * sizeof(int16_t));
}

void WavRecorder::appendSilence(uint64_t samples) noexcept {
    static const int16_t kZeros[512] = {};
    while (samples > 0) {
        const size_t chunk = static_cast<size_t>(std::min<uint64_t>(samples, std::size(kZeros)));
        appendSamples(kZeros, chunk);
        samples -= chunk;
    }
}

void WavRecorder::writeHeader() noexcept {
    const uint16_t blockAlign = static_cast<uint16_t>(m_channels * kBitsPerSample / 8);
    uint8_t header[kHeaderBytes];
    std::memcpy(header, "RIFF", 4);
    put32(header + 4, 36 + m_dataBytes);
    std::memcpy(header + 8, "WAVE", 4);
    std::memcpy(header + 12, "fmt ", 4);
    put32(header + 16, 16);
    put16(header + 20, 1);  // PCM
    put16(header + 22, m_channels);
    put32(header + 24, m_rate);
    put32(header + 28, blockAlign * m_rate);
    put16(header + 32, blockAlign);
    put16(header + 34, kBitsPerSample);
    std::memcpy(header + 36, "data", 4);
    put32(header + 40, m_dataBytes);
    std::fseek(m_file.get(), 0, SEEK_SET);
    std::fwrite(header, 1, sizeof header, m_file.get());
    std::fseek(m_file.get(), 0, SEEK_END);
    std::fflush(m_file.get());
}

}  // namespace session
