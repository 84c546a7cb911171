// Sample-rate converter between the device rate and the pipeline's 32 kHz.
//
// Deliberately simple and cheap, for voice: downward it averages the input samples
// that fall into each output sample (a box filter), upward it interpolates linearly
// between neighbouring input samples. The state carries over between calls, so a
// stream can be converted in runs of any length.
#pragma once

#include <cstdint>

namespace qel {

class RateConverter {
public:
    struct Result {
        int used = 0;     // input samples consumed
        int written = 0;  // output samples produced
    };

    // Sets the rates (both must be positive) and clears the running state.
    void configure(int32_t inputRate, int32_t outputRate) noexcept;

    // Clears the running state, keeping the rates.
    void clear() noexcept;

    // Converts up to `inputCount` samples into at most `outputRoom` samples.
    // Equal rates pass samples through one to one. Allocates nothing.
    Result convert(const int16_t* input, int inputCount, int16_t* output,
                   int outputRoom) noexcept;

    int32_t inputRate() const noexcept { return m_inputRate; }
    int32_t outputRate() const noexcept { return m_outputRate; }

    // Upper bound of the output that `inputCount` input samples can produce.
    int maxOutputFor(int inputCount) const noexcept;

private:
    Result average(const int16_t* input, int inputCount, int16_t* output,
                   int outputRoom) noexcept;
    Result interpolate(const int16_t* input, int inputCount, int16_t* output,
                       int outputRoom) noexcept;

    int32_t m_inputRate = 0;
    int32_t m_outputRate = 0;
    // Averaging: the running sum and how many samples it holds. Interpolating: the
    // previous and the current input sample. The sum is 64-bit so that no ratio of
    // 32-bit rates can overflow it.
    int64_t m_accumulator = 0;
    int32_t m_count = 0;
    int32_t m_phase = 0;
};

}  // namespace qel
