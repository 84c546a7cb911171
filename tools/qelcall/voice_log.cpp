#include "tools/qelcall/voice_log.h"

#include <cctype>
#include <cstdio>
#include <cstring>

namespace qelcall {
namespace {

constexpr char kUnderrun[] = "Network underrun";
constexpr char kInsertion[] = "Jitter buffer packet inserted";

// The message after the log's elapsed-time stamp, if the line has one.
const char* message(const char* text) {
    const char* p = text;
    while (std::isdigit(static_cast<unsigned char>(*p)) != 0) {
        ++p;
    }
    if (p != text && *p == '.') {
        const char* q = p + 1;
        while (std::isdigit(static_cast<unsigned char>(*q)) != 0) {
            ++q;
        }
        if (q != p + 1 && *q == ' ') {
            return q + 1;
        }
    }
    return text;
}

}  // namespace

void VoiceLog::add(uint64_t Counts::*what, uint64_t n, bool startUp) {
    m_all.*what += n;
    if (startUp) {
        m_startUp.*what += n;
    }
}

void VoiceLog::line(const char* text, bool startUp) {
    const char* m = message(text);
    int depth = 0, rx = 0, tx = 0;
    float rate = 0, network = 0, audio = 0, total = 0;
    if (std::sscanf(m, "jb=%d, rx=%d tx=%d @%fHz, nl=%f%% al=%f%% tl=%f%%", &depth, &rx, &tx, &rate,
                    &network, &audio, &total) == 7) {
        m_depth = depth;
        m_networkLoad = network;
        m_audioLoad = audio;
        ++m_statisticsLines;
        return;
    }
    if (std::strcmp(m, kUnderrun) == 0) {
        m_underrunRunInStartUp = startUp;
        add(&Counts::underruns, 1, startUp);
        return;
    }
    if (std::strcmp(m, kInsertion) == 0) {
        m_insertionRunInStartUp = startUp;
        add(&Counts::insertions, 1, startUp);
        return;
    }
    int count = 0, used = 0;
    // The summary counts the first occurrence too, which was logged on its own line.
    if (std::sscanf(m, "Repeated %d times: %n", &count, &used) == 1 && used > 0 && count > 1) {
        const auto more = static_cast<uint64_t>(count - 1);
        if (std::strcmp(m + used, kUnderrun) == 0) {
            add(&Counts::underruns, more, m_underrunRunInStartUp);
        } else if (std::strcmp(m + used, kInsertion) == 0) {
            add(&Counts::insertions, more, m_insertionRunInStartUp);
        }
        return;
    }
    if (std::sscanf(m, "JitterBuffer error %d", &count) == 1) {
        add(&Counts::errors, 1, startUp);
    } else if (std::sscanf(m, "Server 5 sec network report: %d packets lost", &count) == 1 &&
               count > 0) {
        m_serverLost += static_cast<uint64_t>(count);
    }
}

}  // namespace qelcall
