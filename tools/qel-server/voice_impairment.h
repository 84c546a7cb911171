// Impairment of the voice packets the server sends: loss, jitter and reordering, drawn
// from a seeded generator so that a run repeats exactly, and periodic stalls.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "tools/qel-server/seeded_random.h"
#include "tools/qel-server/server_options.h"
#include "tools/qel-server/server_types.h"

namespace qelserver {

class VoiceImpairment {
  public:
    // A reordered packet is held this long: past the next 20-ms frame of its stream.
    static constexpr uint64_t kReorderHoldMs = 30;

    VoiceImpairment(const ImpairmentConfig& config, uint64_t seed);

    // Takes one outgoing voice packet sent at `nowMs`. Returns false when it is lost;
    // otherwise it waits in the queue until its time has come.
    bool submit(Outgoing packet, uint64_t nowMs);

    // Moves every packet due at `nowMs` to `out`, in due order (ties keep their order
    // of submission).
    void release(uint64_t nowMs, std::vector<Outgoing>& out);

    // Drops the packets queued for a TCP connection that is going away.
    void forgetConnection(ConnId connection);

    // Due time of the earliest queued packet, or UINT64_MAX.
    uint64_t nextDue() const noexcept;
    size_t queued() const noexcept { return m_queue.size(); }

    uint64_t lost() const noexcept { return m_lost; }
    uint64_t reordered() const noexcept { return m_reordered; }
    uint64_t stalled() const noexcept { return m_stalled; }

  private:
    // When a packet sent at `nowMs` may leave at the earliest: the end of the stall it
    // falls in, else `nowMs`.
    uint64_t stallEnd(uint64_t nowMs);

    ImpairmentConfig m_config;
    SeededRandom m_random;
    std::multimap<uint64_t, Outgoing> m_queue;
    uint64_t m_lost = 0;
    uint64_t m_reordered = 0;
    uint64_t m_stalled = 0;
    uint64_t m_firstMs = UINT64_MAX;  // the first packet's time, where the stalls count from
};

}  // namespace qelserver
