// The level of one audio stream over an interval: the audio thread adds each buffer,
// another thread takes the interval's RMS, peak and clipped samples and starts the
// next one. One
// writer, one reader; lock-free, no allocation.
#pragma once

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace qelcall {

struct Level {
    double rmsDbfs = 0;
    double peakDbfs = 0;
    uint64_t samples = 0;  // 0: no audio in the interval, the levels mean nothing
    uint64_t clipped = 0;  // samples at or near full scale
};

class LevelMeter {
  public:
    // Silence reads as this, so that a record never holds minus infinity.
    static constexpr double kFloorDbfs = -120.0;
    // At or near full scale: within the top 8 steps of 16-bit audio (-0.002 dBFS), where
    // a saturated converter or decoder leaves its samples flat.
    static constexpr float kClipLevel = 32760.0f / 32768.0f;

    // Audio thread.
    void add(const float* samples, int n) noexcept {
        double sum = 0;
        float peak = 0;
        uint64_t clipped = 0;
        for (int i = 0; i < n; ++i) {
            sum += static_cast<double>(samples[i]) * samples[i];
            const float magnitude = std::fabs(samples[i]);
            peak = std::max(peak, magnitude);
            clipped += magnitude >= kClipLevel ? 1 : 0;
        }
        m_clipped.fetch_add(clipped, std::memory_order_relaxed);
        // Squares of full-scale samples in units of 2^-32: a day of 48 kHz audio fits.
        m_sumSquares.fetch_add(static_cast<uint64_t>(sum * kScale), std::memory_order_relaxed);
        uint32_t seen = m_peakBits.load(std::memory_order_relaxed);
        while (peak > fromBits(seen) &&
               !m_peakBits.compare_exchange_weak(seen, toBits(peak), std::memory_order_relaxed)) {
        }
        m_samples.fetch_add(static_cast<uint64_t>(n), std::memory_order_release);
    }

    // Reader: the interval since the last take.
    Level take() noexcept {
        Level level;
        level.samples = m_samples.exchange(0, std::memory_order_acquire);
        const double sum =
            static_cast<double>(m_sumSquares.exchange(0, std::memory_order_relaxed)) / kScale;
        const float peak = fromBits(m_peakBits.exchange(0, std::memory_order_relaxed));
        level.clipped = m_clipped.exchange(0, std::memory_order_relaxed);
        const double rms =
            level.samples == 0 ? 0 : std::sqrt(sum / static_cast<double>(level.samples));
        level.rmsDbfs = dbfs(rms);
        level.peakDbfs = dbfs(peak);
        return level;
    }

    static double dbfs(double amplitude) noexcept {
        return amplitude > 0 ? std::max(kFloorDbfs, 20 * std::log10(amplitude)) : kFloorDbfs;
    }

  private:
    static constexpr double kScale = 4294967296.0;
    static uint32_t toBits(float f) noexcept {
        uint32_t bits;
        std::memcpy(&bits, &f, sizeof bits);
        return bits;
    }
    static float fromBits(uint32_t bits) noexcept {
        float f;
        std::memcpy(&f, &bits, sizeof f);
        return f;
    }

    std::atomic<uint64_t> m_sumSquares{0};
    std::atomic<uint32_t> m_peakBits{0};
    std::atomic<uint64_t> m_samples{0};
    std::atomic<uint64_t> m_clipped{0};
};

}  // namespace qelcall
