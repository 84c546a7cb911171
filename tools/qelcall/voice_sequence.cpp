#include "tools/qelcall/voice_sequence.h"

#include <cmath>

namespace qelcall {
namespace {

constexpr size_t kHeaderBytes = 16;
constexpr size_t kVoiceHeadBytes = 24;  // header, nonce word, sequence
constexpr uint32_t kMagic = 0x57721566;
constexpr uint8_t kVoiceType = 7;

uint32_t le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

}  // namespace

void VoiceSequence::datagram(const uint8_t* bytes, size_t n, double arrivalMs) {
    walk(bytes, n, arrivalMs);
}

void VoiceSequence::stream(const uint8_t* bytes, size_t n, double arrivalMs) {
    if (m_pending.empty()) {
        const size_t used = walk(bytes, n, arrivalMs);
        m_pending.assign(bytes + used, bytes + n);
        return;
    }
    m_pending.insert(m_pending.end(), bytes, bytes + n);
    const size_t used = walk(m_pending.data(), m_pending.size(), arrivalMs);
    m_pending.erase(m_pending.begin(), m_pending.begin() + static_cast<std::ptrdiff_t>(used));
}

size_t VoiceSequence::walk(const uint8_t* bytes, size_t n, double arrivalMs) {
    size_t at = 0;
    while (n - at >= kHeaderBytes) {
        const uint8_t* packet = bytes + at;
        const size_t length = static_cast<size_t>(packet[8]) | static_cast<size_t>(packet[9]) << 8;
        if (le32(packet) != kMagic || length < kHeaderBytes) {
            return n;  // out of step: nothing after this can be framed
        }
        if (length > n - at) {
            break;  // the rest of this packet is still coming
        }
        if (packet[10] == kVoiceType && length >= kVoiceHeadBytes) {
            voice(le32(packet + 20), arrivalMs);
        }
        at += length;
    }
    return at;
}

void VoiceSequence::transit(uint32_t sequence, double arrivalMs, bool afresh) {
    if (!afresh) {
        // D(i, j) of RFC 3550: the change in transit time from the packet before, with
        // send times 20 ms a number apart (signed: a late packet has a lower number).
        const auto numbers = static_cast<int32_t>(sequence - m_lastSequence);
        const double d = (arrivalMs - m_lastArrivalMs) - kFrameMs * numbers;
        m_jitterMs += (std::fabs(d) - m_jitterMs) / 16.0;
        m_jitterValid = true;
    }
    m_lastSequence = sequence;
    m_lastArrivalMs = arrivalMs;
}

void VoiceSequence::voice(uint32_t sequence, double arrivalMs) {
    ++m_received;
    if (!m_started) {
        m_started = true;
        m_highest = sequence;
        m_seen = 1;
        transit(sequence, arrivalMs, true);
        return;
    }
    const uint32_t ahead = sequence - m_highest;  // unsigned: wraps as the numbers do
    if (ahead == 0) {
        ++m_duplicates;
        return;
    }
    if (ahead <= kMaxGap) {
        transit(sequence, arrivalMs, false);
        m_lost += ahead - 1;
        m_seen = (ahead >= 64 ? 0 : m_seen << ahead) | 1;
        m_highest = sequence;
        return;
    }
    const uint32_t behind = m_highest - sequence;
    if (behind <= kMaxGap) {
        // Within the last 64 numbers a repeat is told apart; further back a packet is
        // taken as late.
        if (behind < 64) {
            const uint64_t bit = uint64_t{1} << behind;
            if ((m_seen & bit) != 0) {
                ++m_duplicates;
                return;
            }
            m_seen |= bit;
        }
        transit(sequence, arrivalMs, false);
        ++m_late;
        if (m_lost > 0) {
            --m_lost;
        }
        return;
    }
    m_highest = sequence;  // numbered afresh: the transit times start over too
    m_seen = 1;
    transit(sequence, arrivalMs, true);
}

}  // namespace qelcall
