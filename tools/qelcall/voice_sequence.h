// Counts the voice packets a call receives by their sequence numbers: how many came,
// how many numbers never turned up (lost), and how many turned up after a higher
// number had already arrived (late), and the interarrival jitter as RTP defines it
// (RFC 3550, 6.4.1): the mean deviation of the packets' transit times, smoothed over
// 16 packets, where a packet's send time is its number times the 20 ms frame. Fed with
// the bytes as they come off the sockets and the time they came; it reads the packet
// framing only, never the enciphered frames.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace qelcall {

class VoiceSequence {
  public:
    // A forward jump beyond this is the sender numbering afresh, not a minute of loss.
    static constexpr uint32_t kMaxGap = 3000;

    static constexpr double kFrameMs = 20.0;

    // One datagram: whole packets laid end to end, arrived at `arrivalMs` (any clock
    // that runs at the rate of the receiving machine's; only differences count).
    void datagram(const uint8_t* bytes, size_t n, double arrivalMs);
    // A piece of the TCP stream: a packet may be split across pieces; it arrives with
    // the piece that completes it.
    void stream(const uint8_t* bytes, size_t n, double arrivalMs);

    uint64_t received() const noexcept { return m_received; }
    // Numbers skipped over and not (yet) arrived; a late arrival takes its number back.
    uint64_t lost() const noexcept { return m_lost; }
    uint64_t late() const noexcept { return m_late; }
    uint64_t duplicates() const noexcept { return m_duplicates; }
    // Interarrival jitter in milliseconds; negative until two packets of one numbering
    // have arrived.
    double jitterMs() const noexcept { return m_jitterValid ? m_jitterMs : -1.0; }

  private:
    // Walks whole packets from the front of `bytes`; returns how many bytes it used.
    size_t walk(const uint8_t* bytes, size_t n, double arrivalMs);
    void voice(uint32_t sequence, double arrivalMs);
    void transit(uint32_t sequence, double arrivalMs, bool afresh);

    std::vector<uint8_t> m_pending;  // the start of a TCP packet still coming
    bool m_started = false;
    uint32_t m_highest = 0;
    uint64_t m_seen = 0;  // bit i: number m_highest - i arrived
    uint64_t m_received = 0, m_lost = 0, m_late = 0, m_duplicates = 0;
    // The packet before, in order of arrival, for the transit-time difference.
    uint32_t m_lastSequence = 0;
    double m_lastArrivalMs = 0, m_jitterMs = 0;
    bool m_jitterValid = false;
};

}  // namespace qelcall
