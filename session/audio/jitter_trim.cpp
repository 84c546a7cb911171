#include "session/audio/jitter_trim.h"

#include <algorithm>

namespace qel {

bool JitterTrim::isPause(const int16_t* frame, int samples) noexcept {
    double sum = 0.0;
    for (int i = 0; i < samples; ++i) {
        sum += static_cast<double>(frame[i]) * frame[i];
    }
    const double energy = samples > 0 ? sum / samples : 0.0;
    m_loud = std::max(energy, m_loud * kLoudFade);
    const bool quiet = energy < kQuietFloor || energy < kQuietRatio * m_loud;
    const bool pause = quiet && m_lastQuiet;
    m_lastQuiet = quiet;
    return pause;
}

bool JitterTrim::dropAfter(bool delivered, int waiting, const int16_t* frame,
                           int samples) noexcept {
    if (!delivered) {
        // The buffer came up short: whatever surplus it seemed to have was not there.
        // Short again after a drop, it needed that frame for the jitter it sees: the
        // rest is left to its own judgement, until the next stall.
        if (m_dropsArmed > 0) {
            m_armedLeft = 0;
        }
        // Before the first packet there is no call to have stalled yet.
        if (++m_shortRun >= kStallFrames && m_deliveredOnce) {
            m_armedLeft = kArmedFrames;
            m_dropsArmed = 0;
        }
        m_fewestNow = kUnknown;
        m_fewestBefore = kUnknown;
        m_blockFrames = 0;
        m_waitedForPause = 0;
        m_lastQuiet = false;
        ++m_sinceDrop;
        return false;
    }
    m_shortRun = 0;
    m_deliveredOnce = true;
    const bool pause = isPause(frame, samples);
    if (m_armedLeft == 0) {
        ++m_sinceDrop;
        return false;
    }
    --m_armedLeft;

    m_fewestNow = m_blockFrames == 0 ? waiting : std::min(m_fewestNow, waiting);
    if (++m_blockFrames == kBlockFrames) {
        m_fewestBefore = m_fewestNow;
        m_blockFrames = 0;
    }
    int surplus = 0;
    if (m_fewestBefore != kUnknown) {
        surplus = m_blockFrames > 0 ? std::min(m_fewestBefore, m_fewestNow) : m_fewestBefore;
    }

    if (surplus < 1) {
        m_waitedForPause = 0;
    } else if (m_sinceDrop >= kGapFrames) {
        if (pause || m_waitedForPause >= kPatienceFrames) {
            // Every packet now waits one frame less, and so would have those seen.
            --m_fewestBefore;
            if (m_blockFrames > 0) {
                --m_fewestNow;
            }
            m_sinceDrop = 0;
            m_waitedForPause = 0;
            ++m_dropped;
            ++m_dropsArmed;
            return true;
        }
        ++m_waitedForPause;
    }
    ++m_sinceDrop;
    return false;
}

void JitterTrim::reset() noexcept {
    *this = JitterTrim{};
}

}  // namespace qel
