// The jitter buffer's story as the session library's log tells it: the statistics
// line (about once a second: the buffer's depth, packets each way, loads) and the
// underrun and insertion messages, which the log folds into one line per second plus
// a "Repeated N times" summary.
#pragma once

#include <cstdint>

namespace qelcall {

class VoiceLog {
  public:
    // One walked log line, "SSSS.mmm message" or the bare message.
    void line(const char* text);

    // Packets the jitter buffer held at the last statistics line; -1 before the first.
    int depth() const noexcept { return m_depth; }
    // Loads of the last statistics line, in percent of wall time.
    double networkLoad() const noexcept { return m_networkLoad; }
    double audioLoad() const noexcept { return m_audioLoad; }
    uint64_t statisticsLines() const noexcept { return m_statisticsLines; }
    // As logged so far: a folded run counts when its summary is written, which the log
    // does at the run's next occurrence after its second, or at the next walk.
    uint64_t underruns() const noexcept { return m_underruns; }
    uint64_t insertions() const noexcept { return m_insertions; }
    uint64_t errors() const noexcept { return m_errors; }
    // Each underrun, insertion or error is one device buffer whose 20 ms frame the
    // decoder made up without a packet.
    uint64_t concealed() const noexcept { return m_underruns + m_insertions + m_errors; }
    // The server's reports of our voice packets it missed, summed (one each 5 s).
    uint64_t serverLost() const noexcept { return m_serverLost; }

  private:
    int m_depth = -1;
    double m_networkLoad = 0, m_audioLoad = 0;
    uint64_t m_statisticsLines = 0;
    uint64_t m_underruns = 0, m_insertions = 0, m_errors = 0, m_serverLost = 0;
};

}  // namespace qelcall
