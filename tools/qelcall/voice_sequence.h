// Counts the voice packets a call receives by their sequence numbers: how many came,
// how many numbers never turned up (lost), and how many turned up after a higher
// number had already arrived (late). Fed with the bytes as they come off the sockets;
// it reads the packet framing only, never the enciphered frames.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace qelcall {

class VoiceSequence {
  public:
    // A forward jump beyond this is the sender numbering afresh, not a minute of loss.
    static constexpr uint32_t kMaxGap = 3000;

    // One datagram: whole packets laid end to end.
    void datagram(const uint8_t* bytes, size_t n);
    // A piece of the TCP stream: a packet may be split across pieces.
    void stream(const uint8_t* bytes, size_t n);

    uint64_t received() const noexcept { return m_received; }
    // Numbers skipped over and not (yet) arrived; a late arrival takes its number back.
    uint64_t lost() const noexcept { return m_lost; }
    uint64_t late() const noexcept { return m_late; }
    uint64_t duplicates() const noexcept { return m_duplicates; }

  private:
    // Walks whole packets from the front of `bytes`; returns how many bytes it used.
    size_t walk(const uint8_t* bytes, size_t n);
    void voice(uint32_t sequence);

    std::vector<uint8_t> m_pending;  // the start of a TCP packet still coming
    bool m_started = false;
    uint32_t m_highest = 0;
    uint64_t m_seen = 0;  // bit i: number m_highest - i arrived
    uint64_t m_received = 0, m_lost = 0, m_late = 0, m_duplicates = 0;
};

}  // namespace qelcall
