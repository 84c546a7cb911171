#include "tools/qelcall/wav_writer.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iterator>

namespace qelcall {
namespace {

constexpr auto kWriterPeriod = std::chrono::milliseconds(50);
// The RIFF size field is 32 bits: the data chunk stops growing where it would overflow.
constexpr uint32_t kMaxDataBytes = 0xFFFFFFFFu - 36u;

void put16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
void put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace

WavWriter::WavWriter(std::string path, int rate, double keepSeconds)
    : m_path(std::move(path)),
      m_rate(rate),
      m_keepLimit(static_cast<size_t>(std::max(0.0, keepSeconds) * rate)) {
    if (!m_ring.allocate(kRingSamples)) {
        m_failed = true;
    }
    m_kept.reserve(m_keepLimit);
    m_pcm.resize(4096);
    m_writer = std::thread(&WavWriter::writerThread, this);
}

WavWriter::~WavWriter() { finish(); }

void WavWriter::push(const float* samples, size_t count) noexcept {
    m_heard.fetch_add(count, std::memory_order_relaxed);
    const size_t room = m_ring.allocated() ? m_ring.writeAvailable() : 0;
    const size_t n = std::min(room, count);
    for (size_t i = 0; i < n; ++i) {
        m_ring.slot(i) = samples[i];
    }
    m_ring.commitWrite(n);
    if (n < count) {
        m_dropped.fetch_add(count - n, std::memory_order_relaxed);
        m_droppedTotal.fetch_add(count - n, std::memory_order_relaxed);
    }
}

void WavWriter::writerThread() {
    std::unique_lock lock(m_mutex);
    while (!m_stop) {
        m_wake.wait_for(lock, kWriterPeriod, [this] { return m_stop; });
        lock.unlock();
        drain();
        lock.lock();
    }
}

bool WavWriter::openFile() {
    if (m_file != nullptr || m_failed || m_path.empty()) {
        return m_file != nullptr;
    }
    m_file = std::fopen(m_path.c_str(), "wb");
    if (m_file == nullptr) {
        m_failed = true;
        return false;
    }
    uint8_t header[kHeaderBytes];
    std::memcpy(header, "RIFF", 4);
    put32(header + 4, 36);
    std::memcpy(header + 8, "WAVEfmt ", 8);
    put32(header + 16, 16);
    put16(header + 20, 1);  // PCM
    put16(header + 22, 1);  // mono
    put32(header + 24, static_cast<uint32_t>(m_rate));
    put32(header + 28, static_cast<uint32_t>(m_rate) * 2);
    put16(header + 32, 2);
    put16(header + 34, 16);
    std::memcpy(header + 36, "data", 4);
    put32(header + 40, 0);
    if (std::fwrite(header, 1, sizeof header, m_file) != sizeof header) {
        m_failed = true;
    }
    return true;
}

void WavWriter::writeSamples(const float* samples, size_t count) {
    double sum = 0;
    for (size_t i = 0; i < count; ++i) sum += double{samples[i]} * samples[i];
    const size_t keep = std::min(count, m_keepLimit - std::min(m_keepLimit, m_kept.size()));
    {
        std::lock_guard lock(m_mutex);
        m_sumSquares += sum;
        m_counted += count;
        m_kept.insert(m_kept.end(), samples, samples + keep);  // within the reserved room
    }
    if (!openFile() || m_failed) {
        return;
    }
    while (count > 0) {
        const size_t room = (kMaxDataBytes - m_dataBytes) / 2;
        const size_t n = std::min({count, m_pcm.size(), room});
        if (n == 0) {
            return;  // the file is full; the figures still count what follows
        }
        for (size_t i = 0; i < n; ++i) {
            const float clamped = std::clamp(samples[i], -1.0f, 1.0f);
            m_pcm[i] = static_cast<int16_t>(std::lround(clamped * 32767.0f));
        }
        if (std::fwrite(m_pcm.data(), 2, n, m_file) != n) {
            m_failed = true;
            return;
        }
        m_dataBytes += static_cast<uint32_t>(n * 2);
        samples += n;
        count -= n;
    }
}

// Sizes after every batch: whoever reads the file, whenever, finds a whole WAV file.
void WavWriter::patchSizes() {
    if (m_file == nullptr || m_failed) {
        return;
    }
    uint8_t size[4];
    put32(size, 36 + m_dataBytes);
    bool ok = std::fseek(m_file, 4, SEEK_SET) == 0 && std::fwrite(size, 1, 4, m_file) == 4;
    put32(size, m_dataBytes);
    ok = ok && std::fseek(m_file, 40, SEEK_SET) == 0 && std::fwrite(size, 1, 4, m_file) == 4;
    ok = ok && std::fseek(m_file, 0, SEEK_END) == 0 && std::fflush(m_file) == 0;
    if (!ok) {
        m_failed = true;
    }
}

void WavWriter::drain() {
    bool wrote = false;
    for (std::span<const float> run = m_ring.readSpan(); !run.empty(); run = m_ring.readSpan()) {
        writeSamples(run.data(), run.size());
        m_ring.commitRead(run.size());
        wrote = true;
    }
    static constexpr float kSilence[512] = {};
    for (uint64_t owed = m_dropped.exchange(0, std::memory_order_relaxed); owed > 0;) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(owed, std::size(kSilence)));
        writeSamples(kSilence, n);
        owed -= n;
        wrote = true;
    }
    if (wrote) {
        patchSizes();
    }
}

bool WavWriter::finish() {
    {
        std::lock_guard lock(m_mutex);
        if (m_finished) {
            return !m_failed;
        }
        m_finished = true;
        m_stop = true;
    }
    m_wake.notify_all();
    if (m_writer.joinable()) {
        m_writer.join();
    }
    drain();
    patchSizes();
    if (m_file != nullptr && std::fclose(m_file) != 0) {
        m_failed = true;
    }
    m_file = nullptr;
    return !m_failed;
}

double WavWriter::rms() const {
    std::lock_guard lock(m_mutex);
    return m_counted > 0 ? std::sqrt(m_sumSquares / static_cast<double>(m_counted)) : 0;
}

}  // namespace qelcall
