// qelcall: a headless call through the session library, for tests, demos and anyone
// developing against a voice server. See --help.
#include <algorithm>
#include <atomic>
#include <csignal>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/dynamic_library.h"
#include "tools/qelcall/call.h"
#include "tools/qelcall/call_stats.h"
#include "tools/qelcall/latency.h"
#include "tools/qelcall/wav_writer.h"

namespace {

std::atomic<bool> g_stop{false};

void onSignal(int) { g_stop = true; }

const char kUsage[] =
    "usage: qelcall --server HOST:PORT [options]\n"
    "  --server HOST:PORT  the voice server's TCP address (required)\n"
    "  --service NAME      service to connect to (default echo)\n"
    "  --pin PIN           the call's PIN (default 1234)\n"
    "  --name NAME         display name sent to the server (default qelcall)\n"
    "  --in FILE           microphone: 16-bit PCM WAV at 48000 Hz, mono or stereo\n"
    "                      (default: silence)\n"
    "  --out FILE          what the call heard, 16-bit mono WAV at 48000 Hz, written\n"
    "                      as the call goes\n"
    "  --seconds N         how long to hold the call once connected (default 5)\n"
    "  --qel PATH          the session library (default native/libqel.so, native\\qel.dll on\n"
    "                      Windows, next to qelcall)\n"
    "  --no-aec            switch echo cancellation off\n"
    "  --latency           report the delay from the first click of the microphone to\n"
    "                      the first click heard; with the benchmarks' build of the\n"
    "                      library (--qel build/linux/bench/native/libqel_probe.so) also\n"
    "                      each click's time in the eight stages of the path, the median\n"
    "                      over the clicks (--verbose: every click)\n"
    "  --verbose           print the library's log and every packet event\n"
    "  --stats FILE        write the call's figures to FILE as JSON lines (below)\n"
    "\n"
    "--stats writes one JSON object per line: \"type\" \"start\" when the call starts, \"second\"\n"
    "once a second, \"end\" when it is over (tools/call-report.py draws them). Every record has\n"
    "  t                    seconds since the start record\n"
    "  state                connecting, connected, hanging up, disconnected, ended, failed\n"
    "  transport            udp or tcp once the network detection chose, else null\n"
    "  packets_sent, bytes_sent, packets_received, bytes_received\n"
    "                       so far, both sockets (received: datagrams and TCP reads)\n"
    "  voice_sent, voice_received\n"
    "                       voice packets so far (received: every arrival, the server's\n"
    "                       silent frames before the first echo and repeats included)\n"
    "  voice_lost           sequence numbers skipped and not arrived since (so far)\n"
    "  voice_late           voice packets that came after a higher number (so far)\n"
    "  server_lost          our voice packets the server reported missing (so far)\n"
    "  jb_depth             packets in the jitter buffer at the library's last statistics\n"
    "                       line (about one a second), null before the first\n"
    "  underruns, insertions, concealed_frames\n"
    "                       the jitter buffer's underruns and insertions so far, as the\n"
    "                       library's log reports them (a folded run counts when its\n"
    "                       summary is logged), and the frames the decoder made up\n"
    "  first_voice_t        when the first voice packet arrived (null before): the\n"
    "                       jitter buffer starts then, empty\n"
    "  startup_underruns, startup_insertions, startup_concealed_frames\n"
    "                       of the three above, those of the start-up: the first second\n"
    "                       after the first voice packet, while the jitter buffer fills\n"
    "                       (a folded run counts where its first line fell)\n"
    "  jitter_ms            interarrival jitter of the voice packets received, as RTP\n"
    "                       defines it (RFC 3550 6.4.1): the mean deviation of their\n"
    "                       transit times, smoothed over 16 packets, each packet sent\n"
    "                       20 ms a sequence number after the one before and timed on\n"
    "                       arrival by this machine's monotonic clock, which also paces\n"
    "                       the device; null before two packets\n"
    "  network_load_pct, audio_load_pct\n"
    "                       the loads of the library's last statistics line\n"
    "  capture_rms_dbfs, capture_peak_dbfs, playback_rms_dbfs, playback_peak_dbfs\n"
    "                       microphone and speaker levels since the last record, dBFS\n"
    "                       (-120 for silence, null when no audio ran)\n"
    "  capture_clipped, playback_clipped\n"
    "                       samples at or near full scale since the last record (within\n"
    "                       8 steps of 16-bit full scale): the microphone as it came, before\n"
    "                       any processing, and the speaker\n"
    "  cpu_pct              the process's CPU since the last record, percent of one core\n"
    "  events               the call's events since the last record, each {t, event}\n"
    "  r_factor, mos        an estimate of the quality since the last record: the ITU-T\n"
    "                       G.107 E-model's rating R from the voice packets lost of those\n"
    "                       expected (received + lost) and the MOS from R (G.107 Annex B);\n"
    "                       no delay is known each second, so no delay impairment; null\n"
    "                       when no voice was expected\n"
    "The start record adds utc, server, service, name, library, device_rate,\n"
    "device_frames, mic, heard, latency and emodel (the figures of the score: default_r,\n"
    "ie, bpl, burst_r, codec_figures); the end record adds failure (null when the\n"
    "call ended as asked), connected, connect_ms, udp_send_failures, audio_seconds,\n"
    "late_wakeups, cpu_ms, mic_rms_dbfs, heard_rms_dbfs, call_loss_pct, call_delay_ms,\n"
    "call_r_factor, call_mos (the whole call's score: its loss, and with --latency its\n"
    "mouth-to-ear time as the one-way delay, else null and no delay impairment) and,\n"
    "with --latency, latency: mouth_to_ear_ms, stage_probe and, with the probe, stages\n"
    "(names), clicks (each click's ms per stage), median_ms (the stages of the click\n"
    "whose total is the median) and median_total_ms.\n"
    "\n"
    "The score is the E-model simplified as ITU-T G.113 and VoIP monitors do: R = 93.2\n"
    "(G.107 with every input at its default) - Idd (G.107's delay impairment, nil up to\n"
    "100 ms one way) - Ie,eff = Ie + (95 - Ie) Ppl / (Ppl / BurstR + Bpl) with Ppl the loss\n"
    "in percent. Opus custom mode has no entry in G.113's tables; this 64 kbit/s mode with\n"
    "its own concealment takes the figures of G.711 with packet-loss concealment, Ie = 0\n"
    "and Bpl = 25.1 (G.113 Appendix I), with random loss (BurstR = 1). Frames concealed\n"
    "for lateness are not in Ppl (they are in concealed_frames).\n"
    "\n"
    "example: qelcall --server 127.0.0.1:4000 --in speech.wav --out heard.wav --stats call.jsonl\n";

std::string defaultLibraryPath() {
    return platform::besideExecutable("native/" + platform::sharedLibraryFileName("qel"));
}

int usageError(const std::string& message) {
    std::fprintf(stderr, "qelcall: %s\n%s", message.c_str(), kUsage);
    return 2;
}

double rms(const std::vector<float>& samples) {
    double sum = 0;
    for (float s : samples) sum += double{s} * s;
    return samples.empty() ? 0 : std::sqrt(sum / static_cast<double>(samples.size()));
}

// Each click's stages, with one buffer of device latency each way as the audio thread
// hands whole buffers over; their median over the clicks.
void printStages(const qelcall::CallStatistics& stats, bool eachClick) {
    if (!stats.stageProbe) {
        std::printf("  stages:           not timed (the library has no stage probe; the benchmarks'\n"
                    "                    build of it is build/<preset>/bench/native/libqel_probe.so)\n");
        return;
    }
    const double bufferMs = 1000.0 * qelcall::kDeviceFrames / qelcall::kDeviceRate;
    std::vector<double> rows;
    std::vector<int> ahead;
    for (const qelcall::ClickStamps& click : stats.clicks) {
        double row[qelcall::kStageCount];
        if (qelcall::stageTimes(click, bufferMs, bufferMs, qelcall::kDeviceRate, row)) {
            rows.insert(rows.end(), row, row + qelcall::kStageCount);
            ahead.push_back(click.queuedAhead);
            if (eachClick) {
                std::printf("  click %2zu:", ahead.size());
                for (double ms : row) std::printf(" %5.1f", ms);
                std::printf("  (%d queued ahead)\n", click.queuedAhead);
            }
        }
    }
    const int n = static_cast<int>(ahead.size());
    if (n == 0) {
        std::printf("  stages:           no click timed through every stage\n");
        return;
    }
    double median[qelcall::kStageCount + 1];
    qelcall::medianClick(rows.data(), n, median);
    std::sort(ahead.begin(), ahead.end());
    std::printf("  stages (the median one of %d clicks, device buffers of %.1f ms each way):\n", n,
                bufferMs);
    for (int stage = 0; stage < qelcall::kStageCount; ++stage) {
        std::printf("    %-18s %6.1f ms\n", qelcall::stageName(stage), median[stage]);
    }
    std::printf("    %-18s %6.1f ms (click to click %.1f ms)\n", "total", median[qelcall::kStageCount],
                median[qelcall::kStageCount] - 2 * bufferMs);
    std::printf("    jitter buffer held %d packets when the click's frame was queued (median)\n",
                ahead[ahead.size() / 2]);
}

}  // namespace

int main(int argc, char** argv) {
    // Events are read as they happen, often through a pipe.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    qelcall::CallOptions options;
    std::string inPath, outPath, qelPath = defaultLibraryPath(), server, statsPath;
    bool measureLatency = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        const char* v = nullptr;
        if (arg == "--help" || arg == "-h") {
            std::printf("%s", kUsage);
            return 0;
        } else if (arg == "--verbose") {
            options.verbose = true;
        } else if (arg == "--no-aec") {
            options.echoCancellation = false;
        } else if (arg == "--latency") {
            measureLatency = true;
            options.stageTimes = true;
        } else if ((v = value()) == nullptr) {
            return usageError(arg.rfind("--", 0) == 0 ? arg + " needs a value" : "unknown argument " + arg);
        } else if (arg == "--server") {
            server = v;
        } else if (arg == "--service") {
            options.service = v;
        } else if (arg == "--pin") {
            options.pin = v;
        } else if (arg == "--name") {
            options.name = v;
        } else if (arg == "--in") {
            inPath = v;
        } else if (arg == "--out") {
            outPath = v;
        } else if (arg == "--stats") {
            statsPath = v;
        } else if (arg == "--qel") {
            qelPath = v;
        } else if (arg == "--seconds") {
            char* end = nullptr;
            options.seconds = std::strtod(v, &end);
            if (*end != '\0' || !(options.seconds > 0 && options.seconds < 86400)) {
                return usageError("--seconds needs a positive number");
            }
        } else {
            return usageError("unknown option " + arg);
        }
    }
    const size_t colon = server.rfind(':');
    const long port = colon == std::string::npos ? 0 : std::strtol(server.c_str() + colon + 1, nullptr, 10);
    if (colon == std::string::npos || colon == 0 || port <= 0 || port > 65535) {
        return usageError("--server HOST:PORT is required");
    }
    options.host = server.substr(0, colon);
    options.port = static_cast<uint16_t>(port);

    qelcall::MonoAudio mic{qelcall::kDeviceRate, {}};
    if (!inPath.empty()) {
        std::string error;
        auto read = qelcall::readWav(inPath, error);
        if (!read) {
            std::fprintf(stderr, "qelcall: %s\n", error.c_str());
            return 1;
        }
        if (read->rate != qelcall::kDeviceRate) {
            std::fprintf(stderr, "qelcall: %s is at %d Hz; the device clock runs at 48000 Hz "
                                 "(resample it first, e.g. sox in.wav -r 48000 out.wav)\n",
                         inPath.c_str(), read->rate);
            return 1;
        }
        mic = std::move(*read);
    }

    qelcall::QelLibrary library;
    std::string error;
    if (!library.load(qelPath, error)) {
        std::fprintf(stderr, "qelcall: %s\n", error.c_str());
        return 1;
    }
    std::printf("qelcall: %s, calling %s service %s\n", library.api().version(), server.c_str(),
                options.service.c_str());

    qelcall::StatsRecorder recorder;
    if (!statsPath.empty()) {
        if (!recorder.open(statsPath, error)) {
            std::fprintf(stderr, "qelcall: %s\n", error.c_str());
            return 1;
        }
        options.observer = &recorder;
        recorder.begin({server, options.service, options.name, library.api().version(), inPath, outPath,
                        measureLatency});
    }

    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);

    // The click test looks at the start of the call only; everything else is streamed.
    qelcall::WavWriter heard(outPath, qelcall::kDeviceRate, measureLatency ? 60 : 0);
    qelcall::CallStatistics stats;
    const uint64_t cpuAtStart = platform::processCpuMicroseconds();
    const std::string failure = qelcall::runCall(library.api(), options, mic, heard, stats, g_stop, &library);
    const bool written = heard.finish();
    const double cpuMs = static_cast<double>(platform::processCpuMicroseconds() - cpuAtStart) / 1000.0;
    const double audioSeconds = static_cast<double>(stats.audioBuffers) * qelcall::kDeviceFrames / qelcall::kDeviceRate;

    std::printf("statistics:\n"
                "  connected:        %s%s\n"
                "  transport:        %s\n"
                "  packets sent:     %llu UDP, %llu TCP (%llu bytes; %llu UDP send failures)\n"
                "  packets received: %llu UDP, %llu TCP (%llu bytes)\n"
                "  audio buffers:    %llu of 512 frames (%.2f s), %llu late wake-ups\n"
                "  heard RMS:        %.4f (microphone %.4f)\n"
                "  process CPU:      %.1f ms (%.1f ms per second of call audio)\n",
                stats.connected ? "yes, after " : "no", stats.connected ? (std::to_string(stats.connectMs) + " ms").c_str() : "",
                stats.connected ? (stats.viaUdp ? "UDP" : "TCP") : "-",
                static_cast<unsigned long long>(stats.udpSent), static_cast<unsigned long long>(stats.tcpSent),
                static_cast<unsigned long long>(stats.bytesSent),
                static_cast<unsigned long long>(stats.udpSendFailures),
                static_cast<unsigned long long>(stats.udpReceived), static_cast<unsigned long long>(stats.tcpReceived),
                static_cast<unsigned long long>(stats.bytesReceived),
                static_cast<unsigned long long>(stats.audioBuffers),
                static_cast<double>(stats.audioBuffers) * qelcall::kDeviceFrames / qelcall::kDeviceRate,
                static_cast<unsigned long long>(stats.audioLate), heard.rms(), rms(mic.samples), cpuMs,
                audioSeconds > 0 ? cpuMs / audioSeconds : 0.0);
    if (measureLatency) {
        const double ms = qelcall::clickLatencyMs(mic.samples, heard.kept(), qelcall::kDeviceRate);
        if (ms >= 0) {
            std::printf("  mouth-to-ear:     %.1f ms\n", ms);
        } else {
            std::printf("  mouth-to-ear:     no click found\n");
        }
        printStages(stats, options.verbose);
    }
    if (!statsPath.empty()) {
        qelcall::StatsEndInfo end{failure, cpuMs, rms(mic.samples), heard.rms(), -1};
        if (measureLatency) {
            end.mouthToEarMs = qelcall::clickLatencyMs(mic.samples, heard.kept(), qelcall::kDeviceRate);
        }
        if (!recorder.finish(stats, end)) {
            std::fprintf(stderr, "qelcall: cannot write %s\n", statsPath.c_str());
            return 1;
        }
    }
    if (!written) {
        std::fprintf(stderr, "qelcall: cannot write %s\n", outPath.c_str());
        return 1;
    }
    if (!failure.empty()) {
        std::fprintf(stderr, "qelcall: call failed: %s\n", failure.c_str());
        return 1;
    }
    return 0;
}
