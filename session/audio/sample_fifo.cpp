#include "session/audio/sample_fifo.h"

#include <cstring>
#include <new>

namespace qel {

bool SampleFifo::allocate() noexcept {
    if (!m_samples) {
        m_samples.reset(new (std::nothrow) int16_t[kCapacity]());
    }
    clear();
    return m_samples != nullptr;
}

void SampleFifo::removeFront(int n) noexcept {
    if (n <= 0) {
        return;
    }
    if (n > m_count) {
        n = m_count;
    }
    std::memmove(m_samples.get(), m_samples.get() + n,
                 static_cast<size_t>(m_count - n) * sizeof(int16_t));
    m_count -= n;
    m_done = m_done > n ? m_done - n : 0;
}

void SampleFifo::appendSilence(int n) noexcept {
    if (n <= 0) {
        return;
    }
    std::memset(writePosition(), 0, static_cast<size_t>(n) * sizeof(int16_t));
    m_count += n;
}

}  // namespace qel
