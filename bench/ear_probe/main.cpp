// ear_probe: hears a call from outside the engine, as a person at the sound card would.
// See kUsage, and bench/ear_probe.sh, which runs the probe, a voice server and the engine.
#include <jack/jack.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "bench/ear_probe/analysis.h"
#include "bench/ear_probe/jack_probe.h"
#include "tools/qelcall/wav_file.h"

namespace {

const char kUsage[] =
    "usage: ear_probe MODE [options]   (the sound server's JACK_DEFAULT_SERVER set)\n"
    "Opens the JACK client NAME (default probe) with ports NAME:out, the engine's\n"
    "microphone, and NAME:in, the engine's speaker; prints 'ready' once they exist, waits\n"
    "until both are connected (the engine opened its stream), lets the call settle, then\n"
    "plays and records, and prints what it measured in the server's frames.\n"
    "modes:\n"
    "  latency     irregularly spaced 5-ms bursts into the microphone, each found again on\n"
    "              the speaker: mouth-to-ear count, median, p90, max (in an echo call)\n"
    "  holes       speech into the microphone (--speech): stretches of digital silence\n"
    "              (exact zeros, --min-run-ms) the speaker plays with speech heard on both\n"
    "              sides, per second of returning speech\n"
    "  echo        the speaker back into the microphone (--echo-delay-ms, --echo-gain-db)\n"
    "              added to --speech (a near-end talker, optional): prints the speaker's\n"
    "              level and the echo's level at the microphone (in a conference with a\n"
    "              far end, which measures what comes back)\n"
    "  level FILE  the RMS level of a 16-bit WAV file after --skip seconds (--length)\n"
    "  loop        checks the probe itself: a delay client of --delay frames between\n"
    "              NAME:out and NAME:in, measured as in latency mode\n"
    "options:\n"
    "  --name NAME        JACK client name (default probe)\n"
    "  --seconds N        recording length (default 20)\n"
    "  --settle S         seconds between the connection and the start (default 3)\n"
    "  --wait S           seconds to wait for the connection (default 90)\n"
    "  --speech FILE      16-bit WAV at the server's rate, looped\n"
    "  --threshold X      burst detection level on the speaker (default 0.05)\n"
    "  --min-run-ms MS    shortest digital silence counted (default 2)\n"
    "  --echo-delay-ms MS speaker-to-microphone delay (default 5)\n"
    "  --echo-gain-db DB  speaker-to-microphone gain (default -6)\n"
    "  --skip S           seconds left out at the start of levels (default 5)\n"
    "  --length S         level: seconds measured after --skip (default: to the end)\n"
    "  --delay FRAMES     loop mode's delay (default 1000)\n"
    "  --save DIR         also write DIR/mic.wav and DIR/speaker.wav\n"
    "example:\n"
    "  eval \"$(tools/sound-server.sh start /tmp/snd ear --probe)\"\n"
    "  build/linux/bench/ear_probe latency --seconds 30 & (start an echo call here)\n";

struct Options {
    std::string mode, file, name = "probe", speech, save;
    double seconds = 20, settle = 3, wait = 90, threshold = 0.05, minRunMs = 2;
    double echoDelayMs = 5, echoGainDb = -6, skip = 5, length = 0;
    int delay = 1000;
};

std::atomic<bool> g_stop{false};
void onSignal(int) {
    g_stop = true;
}

int usageError(const std::string& message) {
    std::fprintf(stderr, "ear_probe: %s\n%s", message.c_str(), kUsage);
    return 2;
}

bool parse(int argc, char** argv, Options& o, std::string& error) {
    if (argc < 2) {
        error = "no mode";
        return false;
    }
    o.mode = argv[1];
    int i = 2;
    if (o.mode == "level") {
        if (argc < 3) {
            error = "level needs a file";
            return false;
        }
        o.file = argv[i++];
    }
    for (; i < argc; ++i) {
        const std::string arg = argv[i];
        if (i + 1 >= argc) {
            error = arg + " needs a value";
            return false;
        }
        const char* v = argv[++i];
        if (arg == "--name")
            o.name = v;
        else if (arg == "--speech")
            o.speech = v;
        else if (arg == "--save")
            o.save = v;
        else if (arg == "--seconds")
            o.seconds = std::atof(v);
        else if (arg == "--settle")
            o.settle = std::atof(v);
        else if (arg == "--wait")
            o.wait = std::atof(v);
        else if (arg == "--threshold")
            o.threshold = std::atof(v);
        else if (arg == "--min-run-ms")
            o.minRunMs = std::atof(v);
        else if (arg == "--echo-delay-ms")
            o.echoDelayMs = std::atof(v);
        else if (arg == "--echo-gain-db")
            o.echoGainDb = std::atof(v);
        else if (arg == "--skip")
            o.skip = std::atof(v);
        else if (arg == "--length")
            o.length = std::atof(v);
        else if (arg == "--delay")
            o.delay = std::atoi(v);
        else {
            error = "unknown argument " + arg;
            return false;
        }
    }
    if (o.seconds <= 0) {
        error = "--seconds needs a positive number";
        return false;
    }
    return true;
}

// The prepared speech, looped to `frames`; empty with an error when unusable.
std::vector<float> loopedSpeech(const std::string& path, int rate, int64_t frames,
                                std::string& error) {
    std::optional<qelcall::MonoAudio> speech = qelcall::readWav(path, error);
    if (!speech) {
        return {};
    }
    if (speech->rate != rate || speech->samples.empty()) {
        error = path + ": needs " + std::to_string(rate) + " Hz audio (sox FILE -r " +
                std::to_string(rate) + " OUT)";
        return {};
    }
    std::vector<float> out(static_cast<size_t>(frames));
    for (size_t i = 0; i < out.size(); ++i) {
        out[i] = speech->samples[i % speech->samples.size()];
    }
    return out;
}

void save(const std::string& dir, const std::string& name, int rate, const std::vector<float>& s) {
    if (!dir.empty() && !qelcall::writeWav(dir + "/" + name, {rate, s})) {
        std::fprintf(stderr, "ear_probe: cannot write %s/%s\n", dir.c_str(), name.c_str());
    }
}

// Waits for the engine (both ports connected), lets the call settle, records. False
// when it was stopped or nobody connected.
bool record(earprobe::JackProbe& probe, const Options& o) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::duration<double>(o.wait);
    while (!probe.connected()) {
        if (g_stop || Clock::now() > deadline) {
            std::fprintf(stderr, "ear_probe: nobody connected to %s and %s\n",
                         probe.portName("out").c_str(), probe.portName("in").c_str());
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::printf("connected\n");
    std::this_thread::sleep_for(std::chrono::duration<double>(o.settle));
    probe.start();
    // For lining up another recording of the same call (the far end's) with this one.
    std::printf(
        "recording from %.3f (seconds since the epoch)\n",
        std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count());
    while (!probe.finished() && !g_stop) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    probe.stop();
    std::printf("xruns: %d while recording (each may shift what is measured)\n", probe.xruns());
    save(o.save, "mic.wav", probe.rate(), probe.mic());
    save(o.save, "speaker.wav", probe.rate(), probe.heard());
    return true;
}

double ms(int64_t frames, int rate) {
    return 1000.0 * static_cast<double>(frames) / rate;
}

int reportLatency(const earprobe::JackProbe& probe, const earprobe::Clicks& clicks,
                  const Options& o) {
    const std::vector<int64_t> delays =
        earprobe::clickDelays(clicks, probe.heard(), static_cast<float>(o.threshold));
    std::vector<double> values;
    for (const int64_t d : delays) values.push_back(ms(d, probe.rate()));
    const earprobe::Spread s = earprobe::spreadOf(values);
    int sent = 0;
    for (const int64_t at : clicks.at)
        sent += at < static_cast<int64_t>(probe.heard().size()) ? 1 : 0;
    std::printf("each burst, in order (ms):");
    for (const double v : values) std::printf(" %.0f", v);
    std::printf("\n");
    std::printf(
        "mouth-to-ear: %d of %d bursts heard; median %.1f ms, p90 %.1f ms, max %.1f ms, "
        "min %.1f ms (%d Hz, %d-frame periods)\n",
        s.count, sent, s.median, s.p90, s.max, s.min, probe.rate(), probe.period());
    return s.count > 0 ? 0 : 1;
}

int runLatency(earprobe::JackProbe& probe, const Options& o, earprobe::JackDelay* loop) {
    const auto frames = static_cast<int64_t>(o.seconds * probe.rate());
    const earprobe::Clicks clicks = earprobe::scheduleClicks(probe.rate(), frames, 0.4, 0.9, 19);
    std::vector<float> mic(static_cast<size_t>(frames), 0.0f);
    earprobe::drawClicks(clicks, probe.rate(), 0.5f, mic);
    probe.prepare(std::move(mic), 0, 0.0f);
    if (!probe.activate()) {
        std::fprintf(stderr, "ear_probe: cannot activate the client\n");
        return 1;
    }
    if (loop != nullptr) {
        jack_connect(loop->client(), probe.portName("out").c_str(), loop->portName("in").c_str());
        jack_connect(loop->client(), loop->portName("out").c_str(), probe.portName("in").c_str());
    }
    std::printf("ready: %s is the microphone, %s the speaker\n", probe.portName("out").c_str(),
                probe.portName("in").c_str());
    if (!record(probe, o)) {
        return 1;
    }
    return reportLatency(probe, clicks, o);
}

int runHoles(earprobe::JackProbe& probe, const Options& o) {
    std::string error;
    const auto frames = static_cast<int64_t>(o.seconds * probe.rate());
    std::vector<float> speech = loopedSpeech(o.speech, probe.rate(), frames, error);
    if (speech.empty()) {
        std::fprintf(stderr, "ear_probe: %s\n", error.c_str());
        return 2;
    }
    probe.prepare(std::move(speech), 0, 0.0f);
    if (!probe.activate()) {
        return 1;
    }
    std::printf("ready: %s is the microphone, %s the speaker\n", probe.portName("out").c_str(),
                probe.portName("in").c_str());
    if (!record(probe, o)) {
        return 1;
    }
    const int64_t lag =
        earprobe::envelopeLag(probe.mic(), probe.heard(), probe.rate(), probe.rate());
    if (lag < 0) {
        std::printf("holes: nothing came back\n");
        return 1;
    }
    const int minRun = std::max(1, static_cast<int>(o.minRunMs * probe.rate() / 1000));
    const earprobe::Holes h =
        earprobe::digitalSilence(probe.mic(), probe.heard(), lag, probe.rate(), minRun, -40);
    std::printf(
        "holes: %d stretches of digital silence (>= %.1f ms) in %.1f s of returning speech: "
        "%.2f per second, %.1f ms silent in all, longest %.1f ms (speech back after %.1f ms)\n",
        h.runs, o.minRunMs, h.speechSeconds, h.speechSeconds > 0 ? h.runs / h.speechSeconds : 0,
        ms(h.silentFrames, probe.rate()), ms(h.longestRun, probe.rate()), ms(lag, probe.rate()));
    return 0;
}

int runEcho(earprobe::JackProbe& probe, const Options& o) {
    std::string error;
    const auto frames = static_cast<int64_t>(o.seconds * probe.rate());
    std::vector<float> near(static_cast<size_t>(frames), 0.0f);
    if (!o.speech.empty()) {
        near = loopedSpeech(o.speech, probe.rate(), frames, error);
        if (near.empty()) {
            std::fprintf(stderr, "ear_probe: %s\n", error.c_str());
            return 2;
        }
    }
    const int delay = static_cast<int>(std::lround(o.echoDelayMs * probe.rate() / 1000));
    probe.prepare(std::move(near), delay, static_cast<float>(std::pow(10.0, o.echoGainDb / 20)));
    if (!probe.activate()) {
        return 1;
    }
    std::printf("ready: %s is the microphone, %s the speaker\n", probe.portName("out").c_str(),
                probe.portName("in").c_str());
    if (!record(probe, o)) {
        return 1;
    }
    const auto from = static_cast<int64_t>(o.skip * probe.rate());
    const auto to = static_cast<int64_t>(probe.heard().size());
    std::printf(
        "echo: speaker %.1f dBFS, echo at the microphone %.1f dBFS (%.0f ms, %+.0f dB), "
        "microphone in all %.1f dBFS, over %.1f s\n",
        earprobe::levelDbfs(probe.heard(), from, to), earprobe::levelDbfs(probe.echo(), from, to),
        o.echoDelayMs, o.echoGainDb, earprobe::levelDbfs(probe.mic(), from, to),
        ms(to - from, probe.rate()) / 1000);
    return 0;
}

int runLevel(const Options& o) {
    std::string error;
    std::optional<qelcall::MonoAudio> audio = qelcall::readWav(o.file, error);
    if (!audio) {
        std::fprintf(stderr, "ear_probe: %s\n", error.c_str());
        return 2;
    }
    const auto from = static_cast<int64_t>(o.skip * audio->rate);
    auto to = static_cast<int64_t>(audio->samples.size());
    if (o.length > 0) {
        to = std::min(to, from + static_cast<int64_t>(o.length * audio->rate));
    }
    std::vector<double> seconds;
    for (int64_t at = from; at + audio->rate <= to; at += audio->rate) {
        seconds.push_back(earprobe::levelDbfs(audio->samples, at, at + audio->rate));
    }
    const earprobe::Spread spread = earprobe::spreadOf(seconds);
    std::printf(
        "level: %.1f dBFS over %.1f s of %s, its seconds' median %.1f dBFS, p90 %.1f dBFS\n",
        earprobe::levelDbfs(audio->samples, from, to), ms(to - from, audio->rate) / 1000,
        o.file.c_str(), spread.median, spread.p90);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    Options o;
    std::string error;
    if (argc >= 2 && (std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h")) {
        std::printf("%s", kUsage);
        return 0;
    }
    if (!parse(argc, argv, o, error)) {
        return usageError(error);
    }
    if (o.mode == "level") {
        return runLevel(o);
    }
    if (o.mode != "latency" && o.mode != "holes" && o.mode != "echo" && o.mode != "loop") {
        return usageError("unknown mode " + o.mode);
    }
    if (o.mode == "holes" && o.speech.empty()) {
        return usageError("holes needs --speech FILE");
    }
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    earprobe::JackProbe probe(o.name);
    if (!probe.ok()) {
        std::fprintf(stderr, "ear_probe: %s\n", probe.error().c_str());
        return 1;
    }
    if (o.mode == "loop") {
        earprobe::JackDelay delay(o.name + "-delay", o.delay);
        if (!delay.ok()) {
            std::fprintf(stderr, "ear_probe: cannot open the delay client\n");
            return 1;
        }
        std::printf("loop: through a delay of %d frames\n", o.delay);
        return runLatency(probe, o, &delay);
    }
    if (o.mode == "holes") {
        return runHoles(probe, o);
    }
    if (o.mode == "echo") {
        return runEcho(probe, o);
    }
    return runLatency(probe, o, nullptr);
}
