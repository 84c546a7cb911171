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

bool JitterTrim::dropAfter(Taken taken, int waiting, const int16_t* frame, int samples) noexcept {
    if (taken != Taken::kPacket) {
        // The buffer came up short: whatever surplus it seemed to have was not there.
        // Short right after a drop, it needed that frame for the jitter it sees.
        if (m_droppedSinceShort) {
            if (m_retreats < kRetreats) {
                ++m_retreats;
                m_block *= 2;
            } else {
                m_armedLeft = 0;
            }
        }
        m_droppedSinceShort = false;
        m_missingRun = taken == Taken::kMissing ? m_missingRun + 1 : 0;
        // Before the first packet there is no call to have stalled yet.
        if (m_missingRun == kStallFrames && m_deliveredOnce) {
            m_armedLeft = kArmedFrames;
            m_block = kBlockFrames;
            m_retreats = 0;
        } else if (m_missingRun > kBufferResyncFrames) {
            m_armedLeft = 0;
        }
        m_fewestNow = kUnknown;
        m_fewestBefore = kUnknown;
        m_blockFrames = 0;
        m_waitedForPause = 0;
        m_lastQuiet = false;
        ++m_sinceDrop;
        return false;
    }
    m_missingRun = 0;
    m_deliveredOnce = true;
    const bool pause = isPause(frame, samples);
    if (m_armedLeft == 0) {
        ++m_sinceDrop;
        return false;
    }
    --m_armedLeft;

    m_fewestNow = m_blockFrames == 0 ? waiting : std::min(m_fewestNow, waiting);
    if (++m_blockFrames == m_block) {
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
            m_droppedSinceShort = true;
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
