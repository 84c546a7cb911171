#include "session/audio/rate_converter.h"

namespace qel {

void RateConverter::configure(int32_t inputRate, int32_t outputRate) noexcept {
    m_inputRate = inputRate;
    m_outputRate = outputRate;
    clear();
}

void RateConverter::clear() noexcept {
    m_accumulator = 0;
    m_count = 0;
    m_phase = 0;
}

int RateConverter::maxOutputFor(int inputCount) const noexcept {
    if (m_inputRate <= 0 || m_outputRate <= 0) {
        return 0;
    }
    const int64_t bound = static_cast<int64_t>(inputCount) * m_outputRate / m_inputRate + 2;
    return static_cast<int>(bound);
}

RateConverter::Result RateConverter::convert(const int16_t* input, int inputCount,
                                             int16_t* output, int outputRoom) noexcept {
    if (inputCount <= 0 || outputRoom <= 0 || m_inputRate <= 0 || m_outputRate <= 0) {
        return {};
    }
    if (m_inputRate >= m_outputRate) {
        return average(input, inputCount, output, outputRoom);
    }
    return interpolate(input, inputCount, output, outputRoom);
}

RateConverter::Result RateConverter::average(const int16_t* input, int inputCount,
                                             int16_t* output, int outputRoom) noexcept {
    Result r;
    while (r.used < inputCount && r.written < outputRoom) {
        m_accumulator += input[r.used++];
        ++m_count;
        m_phase += m_outputRate;
        if (m_phase >= m_inputRate) {
            // The mean of samples in -32768..32767 stays in that range.
            output[r.written++] = static_cast<int16_t>(m_accumulator / m_count);
            m_phase -= m_inputRate;
            m_accumulator = 0;
            m_count = 0;
        }
    }
    return r;
}

RateConverter::Result RateConverter::interpolate(const int16_t* input, int inputCount,
                                                 int16_t* output, int outputRoom) noexcept {
    // m_accumulator holds the previous sample, m_count the current one. Each call starts
    // from the first sample of its run: that is the sample the last call stopped in
    // front of, since a sample counts as used only once the phase has passed it.
    Result r;
    int64_t previous = m_accumulator;
    int64_t current = input[0];
    while (r.used < inputCount && r.written < outputRoom) {
        // 64-bit products: a sample times an output rate above 65,535 Hz would
        // overflow 32 bits.
        output[r.written++] = static_cast<int16_t>(
            (current * m_phase + previous * (m_outputRate - m_phase)) / m_outputRate);
        m_phase += m_inputRate;
        if (m_phase >= m_outputRate) {
            m_phase -= m_outputRate;
            previous = current;
            ++r.used;
            if (r.used < inputCount) {
                current = input[r.used];
            }
        }
    }
    m_accumulator = previous;
    m_count = static_cast<int32_t>(current);
    return r;
}

}  // namespace qel
