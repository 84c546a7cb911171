// qelcall --stats: the call's figures as JSON lines, one record when the call starts,
// one per second while it runs and one at its end (the fields: qelcall --help).
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>

#include <nlohmann/json.hpp>

#include "tools/qelcall/call.h"
#include "tools/qelcall/call_observer.h"
#include "tools/qelcall/level_meter.h"
#include "tools/qelcall/voice_log.h"
#include "tools/qelcall/voice_sequence.h"

namespace qelcall {

struct StatsCallInfo {
    std::string server, service, name, library, mic, heard;
    bool latency = false;
};

struct StatsEndInfo {
    std::string failure;  // empty: the call ended as asked
    double cpuMs = 0;     // the process's CPU over the call
    double micRms = 0, heardRms = 0;
    double mouthToEarMs = -1;  // with --latency; -1: no click found
};

class StatsRecorder final : public CallObserver {
  public:
    StatsRecorder() = default;
    ~StatsRecorder() override;
    StatsRecorder(const StatsRecorder&) = delete;
    StatsRecorder& operator=(const StatsRecorder&) = delete;

    // Creates the file; false with the reason when it cannot.
    bool open(const std::string& path, std::string& error);
    // Writes the start record and begins the records of each second.
    void begin(const StatsCallInfo& info);
    // Stops the records of each second and writes the end record. False when the file
    // could not be written whole.
    bool finish(const CallStatistics& stats, const StatsEndInfo& end);

    void event(int code) override;
    void hangingUp() override;
    void received(const uint8_t* bytes, size_t n, bool udp) override;
    void sent(const uint8_t* bytes, size_t n, bool udp) override;
    void logLine(int level, const char* text) override;
    void audio(const float* in, const float* out, int frames) noexcept override;

  private:
    using Clock = std::chrono::steady_clock;
    void everySecond();
    void noteEvent(const char* name);
    // The fields every record carries, the interval's levels and CPU included; takes
    // m_lock itself.
    nlohmann::ordered_json record(const char* type);
    void write(const nlohmann::ordered_json& record);
    double seconds() const { return std::chrono::duration<double>(Clock::now() - m_start).count(); }
    // Within the first second after the first voice packet arrived, or before it.
    bool inStartUp(Clock::time_point when) const;

    std::FILE* m_file = nullptr;
    bool m_writeFailed = false;  // guarded by m_fileLock
    bool m_latency = false;
    std::mutex m_fileLock;
    Clock::time_point m_start = Clock::now();

    std::mutex m_lock;  // everything below but the meters; never taken by the audio thread
    std::string m_state = "connecting";
    std::string m_transport;
    uint64_t m_packetsSent = 0, m_bytesSent = 0, m_packetsReceived = 0, m_bytesReceived = 0;
    uint64_t m_voiceSent = 0;
    VoiceSequence m_voice;  // datagrams and the TCP stream: one sender, one numbering
    VoiceLog m_log;
    nlohmann::ordered_json m_events = nlohmann::ordered_json::array();  // since the last record
    uint64_t m_cpuAtLast = 0;
    Clock::time_point m_lastRecord = m_start;
    bool m_voiceArrived = false;
    Clock::time_point m_firstVoice;
    uint64_t m_receivedAtLast = 0, m_lostAtLast = 0;  // voice counts at the last record

    LevelMeter m_capture, m_playback;

    std::mutex m_stopLock;
    std::condition_variable m_wake;
    bool m_stop = false;
    std::thread m_ticker;
};

}  // namespace qelcall
