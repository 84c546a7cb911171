#include "tools/qelcall/call_stats.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <ctime>
#include <vector>

#include "platform/clock.h"
#include "tools/qelcall/call_quality.h"

namespace qelcall {
namespace {

// Keys in the order written: type and time first, as a person reads a record.
using json = nlohmann::ordered_json;

const char* eventText(int code) {
    switch (code) {
        case 1:
            return "server UDP address";
        case 2:
            return "transport UDP";
        case 3:
            return "transport TCP";
        case 4:
            return "connected";
        case 5:
            return "error";
        case 8:
            return "disconnected";
        default:
            return nullptr;
    }
}

// To `decimals` places, so that 0.072 is written as 0.072 and not as its nearest double.
double rounded(double v, int decimals) {
    const double scale = std::pow(10.0, decimals);
    return std::round(v * scale) / scale;
}

json level(const Level& l, bool peak) {
    if (l.samples == 0) {
        return nullptr;
    }
    return rounded(peak ? l.peakDbfs : l.rmsDbfs, 2);
}

// R and MOS of `lost` of `expected` voice packets, null when none was expected.
void score(json& r, const char* rKey, const char* mosKey, uint64_t lost, uint64_t expected,
           double oneWayMs) {
    if (expected == 0) {
        r[rKey] = nullptr;
        r[mosKey] = nullptr;
        return;
    }
    const double lossPercent = 100.0 * static_cast<double>(lost) / static_cast<double>(expected);
    const double rating = quality::rFactor(lossPercent, oneWayMs);
    r[rKey] = rounded(rating, 1);
    r[mosKey] = rounded(quality::mos(rating), 2);
}

std::string utcNow() {
    const std::time_t now = std::time(nullptr);
    std::tm parts{};
#ifdef _WIN32
    gmtime_s(&parts, &now);
#else
    gmtime_r(&now, &parts);
#endif
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return text;
}

// Each click's stages and the median click's (whose stages add up to its total), as
// qelcall prints them.
json stagesJson(const CallStatistics& stats) {
    json result = {{"stage_probe", stats.stageProbe}};
    if (!stats.stageProbe) {
        return result;
    }
    const double bufferMs = 1000.0 * kDeviceFrames / kDeviceRate;
    std::vector<double> rows;
    json names = json::array();
    for (int stage = 0; stage < kStageCount; ++stage) {
        names.push_back(stageName(stage));
    }
    json clicks = json::array();
    for (const ClickStamps& click : stats.clicks) {
        double row[kStageCount];
        if (stageTimes(click, bufferMs, bufferMs, kDeviceRate, row)) {
            rows.insert(rows.end(), row, row + kStageCount);
            json each = json::array();
            for (double ms : row) {
                each.push_back(rounded(ms, 2));
            }
            clicks.push_back(each);
        }
    }
    result["stages"] = names;
    result["clicks"] = clicks;
    const int n = static_cast<int>(clicks.size());
    if (n > 0) {
        std::vector<double> median(kStageCount + 1);
        medianClick(rows.data(), n, median.data());
        json medians = json::array();
        for (int stage = 0; stage < kStageCount; ++stage) {
            medians.push_back(rounded(median[static_cast<size_t>(stage)], 2));
        }
        result["median_ms"] = medians;
        result["median_total_ms"] = rounded(median[kStageCount], 2);
    }
    return result;
}

}  // namespace

StatsRecorder::~StatsRecorder() {
    {
        std::lock_guard<std::mutex> guard(m_stopLock);
        m_stop = true;
    }
    m_wake.notify_all();
    if (m_ticker.joinable()) {
        m_ticker.join();
    }
    if (m_file != nullptr) {
        std::fclose(m_file);
    }
}

bool StatsRecorder::open(const std::string& path, std::string& error) {
    m_file = std::fopen(path.c_str(), "w");
    if (m_file == nullptr) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

void StatsRecorder::begin(const StatsCallInfo& info) {
    m_start = Clock::now();
    m_lastRecord = m_start;
    m_cpuAtLast = platform::processCpuMicroseconds();
    m_latency = info.latency;
    json start = record("start");
    start["utc"] = utcNow();
    start["server"] = info.server;
    start["service"] = info.service;
    start["name"] = info.name;
    start["library"] = info.library;
    start["device_rate"] = kDeviceRate;
    start["device_frames"] = kDeviceFrames;
    start["mic"] = info.mic.empty() ? json(nullptr) : json(info.mic);
    start["heard"] = info.heard.empty() ? json(nullptr) : json(info.heard);
    start["latency"] = info.latency;
    start["emodel"] = {
        {"default_r", quality::kDefaultR},
        {"ie", quality::kIe},
        {"bpl", quality::kBpl},
        {"burst_r", quality::kBurstR},
        {"codec_figures",
         "G.711 with packet-loss concealment, ITU-T G.113 Appendix I (Opus custom "
         "mode has no entry of its own)"},
    };
    write(start);
    m_ticker = std::thread([this] { everySecond(); });
}

void StatsRecorder::everySecond() {
    std::unique_lock<std::mutex> guard(m_stopLock);
    for (int second = 1;; ++second) {
        if (m_wake.wait_until(guard, m_start + std::chrono::seconds(second),
                              [this] { return m_stop; })) {
            return;
        }
        write(record("second"));
    }
}

bool StatsRecorder::finish(const CallStatistics& stats, const StatsEndInfo& end) {
    {
        std::lock_guard<std::mutex> guard(m_stopLock);
        m_stop = true;
    }
    m_wake.notify_all();
    if (m_ticker.joinable()) {
        m_ticker.join();
    }
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_state = end.failure.empty() ? "ended" : "failed";
    }
    json last = record("end");
    last["failure"] = end.failure.empty() ? json(nullptr) : json(end.failure);
    last["connected"] = stats.connected;
    last["connect_ms"] = stats.connected ? json(stats.connectMs) : json(nullptr);
    last["udp_send_failures"] = stats.udpSendFailures;
    last["audio_seconds"] =
        rounded(static_cast<double>(stats.audioBuffers) * kDeviceFrames / kDeviceRate, 3);
    last["late_wakeups"] = stats.audioLate;
    last["cpu_ms"] = rounded(end.cpuMs, 1);
    last["mic_rms_dbfs"] = rounded(LevelMeter::dbfs(end.micRms), 2);
    last["heard_rms_dbfs"] = rounded(LevelMeter::dbfs(end.heardRms), 2);
    {
        std::lock_guard<std::mutex> guard(m_lock);
        const uint64_t lost = m_voice.lost();
        const uint64_t expected = m_voice.received() + lost;
        const double lossPercent =
            expected == 0 ? 0.0 : 100.0 * static_cast<double>(lost) / static_cast<double>(expected);
        last["call_loss_pct"] = expected == 0 ? json(nullptr) : json(rounded(lossPercent, 2));
        const double delay = m_latency ? end.mouthToEarMs : -1.0;
        last["call_delay_ms"] = delay >= 0 ? json(rounded(delay, 1)) : json(nullptr);
        score(last, "call_r_factor", "call_mos", lost, expected, delay);
    }
    if (m_latency) {
        json latency = stagesJson(stats);
        latency["mouth_to_ear_ms"] =
            end.mouthToEarMs >= 0 ? json(rounded(end.mouthToEarMs, 2)) : json(nullptr);
        last["latency"] = latency;
    }
    write(last);
    std::lock_guard<std::mutex> guard(m_fileLock);
    const bool ok = !m_writeFailed && m_file != nullptr && std::fflush(m_file) == 0;
    if (m_file != nullptr) {
        m_writeFailed |= std::fclose(m_file) != 0;
        m_file = nullptr;
    }
    return ok && !m_writeFailed;
}

nlohmann::ordered_json StatsRecorder::record(const char* type) {
    const auto now = Clock::now();
    const uint64_t cpu = platform::processCpuMicroseconds();
    const Level capture = m_capture.take();
    const Level playback = m_playback.take();
    std::lock_guard<std::mutex> guard(m_lock);
    const double interval = std::chrono::duration<double>(now - m_lastRecord).count();
    const double cpuPercent =
        interval > 0 ? static_cast<double>(cpu - m_cpuAtLast) / 1e4 / interval : 0.0;
    m_lastRecord = now;
    m_cpuAtLast = cpu;
    json r = {
        {"type", type},
        {"t", rounded(std::chrono::duration<double>(now - m_start).count(), 3)},
        {"state", m_state},
        {"transport", m_transport.empty() ? json(nullptr) : json(m_transport)},
        {"packets_sent", m_packetsSent},
        {"bytes_sent", m_bytesSent},
        {"packets_received", m_packetsReceived},
        {"bytes_received", m_bytesReceived},
        {"voice_sent", m_voiceSent},
        {"voice_received", m_voice.received()},
        {"voice_lost", m_voice.lost()},
        {"voice_late", m_voice.late()},
        {"server_lost", m_log.serverLost()},
        {"jb_depth", m_log.depth() < 0 ? json(nullptr) : json(m_log.depth())},
        {"underruns", m_log.underruns()},
        {"insertions", m_log.insertions()},
        {"concealed_frames", m_log.concealed()},
        {"first_voice_t",
         m_voiceArrived
             ? json(rounded(std::chrono::duration<double>(m_firstVoice - m_start).count(), 3))
             : json(nullptr)},
        {"startup_underruns", m_log.startUpUnderruns()},
        {"startup_insertions", m_log.startUpInsertions()},
        {"startup_concealed_frames", m_log.startUpConcealed()},
        {"jitter_ms",
         m_voice.jitterMs() < 0 ? json(nullptr) : json(rounded(m_voice.jitterMs(), 2))},
        {"network_load_pct", rounded(m_log.networkLoad(), 1)},
        {"audio_load_pct", rounded(m_log.audioLoad(), 1)},
        {"capture_rms_dbfs", level(capture, false)},
        {"capture_peak_dbfs", level(capture, true)},
        {"playback_rms_dbfs", level(playback, false)},
        {"playback_peak_dbfs", level(playback, true)},
        {"capture_clipped", capture.clipped},
        {"playback_clipped", playback.clipped},
        {"cpu_pct", rounded(cpuPercent, 1)},
        {"events", m_events},
    };
    m_events = json::array();
    // The interval's score: its voice lost of its voice expected; a late packet takes
    // its number back from the loss, so an interval's loss can come out below zero.
    const uint64_t received = m_voice.received() - m_receivedAtLast;
    const uint64_t lost = m_voice.lost() > m_lostAtLast ? m_voice.lost() - m_lostAtLast : 0;
    score(r, "r_factor", "mos", lost, received + lost, -1.0);
    m_receivedAtLast = m_voice.received();
    m_lostAtLast = m_voice.lost();
    return r;
}

void StatsRecorder::write(const nlohmann::ordered_json& record) {
    // One line each, flushed, so that a reader following the file sees whole records.
    const std::string line = record.dump() + "\n";
    std::lock_guard<std::mutex> guard(m_fileLock);
    if (m_file == nullptr) {
        return;
    }
    if (std::fputs(line.c_str(), m_file) < 0 || std::fflush(m_file) != 0) {
        m_writeFailed = true;
    }
}

void StatsRecorder::noteEvent(const char* name) {
    m_events.push_back({{"t", rounded(seconds(), 3)}, {"event", name}});
}

void StatsRecorder::event(int code) {
    const char* name = eventText(code);
    if (name == nullptr) {
        return;
    }
    std::lock_guard<std::mutex> guard(m_lock);
    noteEvent(name);
    if (code == 2 || code == 3) {
        m_transport = code == 2 ? "udp" : "tcp";
    } else if (code == 4) {
        m_state = "connected";
    } else if (code == 8) {
        m_state = "disconnected";
    }
}

void StatsRecorder::hangingUp() {
    std::lock_guard<std::mutex> guard(m_lock);
    noteEvent("hang up");
    m_state = "hanging up";
}

bool StatsRecorder::inStartUp(Clock::time_point when) const {
    return !m_voiceArrived || when < m_firstVoice + std::chrono::seconds(1);
}

void StatsRecorder::received(const uint8_t* bytes, size_t n, bool udp) {
    const auto now = Clock::now();
    const double arrivalMs = std::chrono::duration<double, std::milli>(now - m_start).count();
    std::lock_guard<std::mutex> guard(m_lock);
    ++m_packetsReceived;
    m_bytesReceived += n;
    if (udp) {
        m_voice.datagram(bytes, n, arrivalMs);
    } else {
        m_voice.stream(bytes, n, arrivalMs);
    }
    if (!m_voiceArrived && m_voice.received() > 0) {
        m_voiceArrived = true;
        m_firstVoice = now;
    }
}

void StatsRecorder::sent(const uint8_t* bytes, size_t n, bool) {
    std::lock_guard<std::mutex> guard(m_lock);
    ++m_packetsSent;
    m_bytesSent += n;
    constexpr uint8_t kVoiceType = 7;
    if (n > 10 && bytes[10] == kVoiceType) {
        ++m_voiceSent;
    }
}

void StatsRecorder::logLine(int, const char* text) {
    const auto now = Clock::now();
    std::lock_guard<std::mutex> guard(m_lock);
    m_log.line(text, inStartUp(now));
}

void StatsRecorder::audio(const float* in, const float* out, int frames) noexcept {
    m_capture.add(in, frames);
    m_playback.add(out, frames);
}

}  // namespace qelcall
