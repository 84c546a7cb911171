// The jitter buffer's story as the session library's log tells it: the statistics
// line (about once a second: the buffer's depth, packets each way, loads) and the
// underrun and insertion messages, which the log folds into one line per second plus
// a "Repeated N times" summary.
//
// A call's first second of voice is told apart from the rest: the jitter buffer starts
// empty and fills with the first packets, and its underruns and insertions then are
// how every call begins, not trouble. The caller says which part a line falls in; a
// folded run's summary counts where the run's first line did.
#pragma once

#include <cstdint>

namespace qelcall {

class VoiceLog {
  public:
    // One walked log line, "SSSS.mmm message" or the bare message; `startUp`: it came
    // within the first second after the call's first voice packet (or before it).
    void line(const char* text, bool startUp = false);

    // Packets the jitter buffer held at the last statistics line; -1 before the first.
    int depth() const noexcept { return m_depth; }
    // Loads of the last statistics line, in percent of wall time.
    double networkLoad() const noexcept { return m_networkLoad; }
    double audioLoad() const noexcept { return m_audioLoad; }
    uint64_t statisticsLines() const noexcept { return m_statisticsLines; }
    // As logged so far: a folded run counts when its summary is written, which the log
    // does at the run's next occurrence after its second, or at the next walk.
    // Counts of the whole call, and of its start-up alone.
    uint64_t underruns() const noexcept { return m_all.underruns; }
    uint64_t insertions() const noexcept { return m_all.insertions; }
    uint64_t errors() const noexcept { return m_all.errors; }
    uint64_t startUpUnderruns() const noexcept { return m_startUp.underruns; }
    uint64_t startUpInsertions() const noexcept { return m_startUp.insertions; }
    // Each underrun, insertion or error is one device buffer whose 20 ms frame the
    // decoder made up without a packet.
    uint64_t concealed() const noexcept { return m_all.concealed(); }
    uint64_t startUpConcealed() const noexcept { return m_startUp.concealed(); }
    // The server's reports of our voice packets it missed, summed (one each 5 s).
    uint64_t serverLost() const noexcept { return m_serverLost; }

  private:
    struct Counts {
        uint64_t underruns = 0, insertions = 0, errors = 0;
        uint64_t concealed() const noexcept { return underruns + insertions + errors; }
    };
    void add(uint64_t Counts::*what, uint64_t n, bool startUp);

    int m_depth = -1;
    double m_networkLoad = 0, m_audioLoad = 0;
    uint64_t m_statisticsLines = 0;
    Counts m_all, m_startUp;
    // Where the open run of each folded message began: its summary counts there.
    bool m_underrunRunInStartUp = false, m_insertionRunInStartUp = false;
    uint64_t m_serverLost = 0;
};

}  // namespace qelcall
