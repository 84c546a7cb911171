// One headless call, driven as the voice engine drives it: a call thread that moves
// packets between the session library and the server (TCP connection, UDP socket) and
// runs the poll loop, and an audio thread that calls audioIO from a 48 kHz device clock
// paced in real time.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/qelcall/call_observer.h"
#include "tools/qelcall/latency_stages.h"
#include "tools/qelcall/qel_library.h"
#include "tools/qelcall/wav_file.h"
#include "tools/qelcall/wav_writer.h"

namespace qelcall {

constexpr int kDeviceRate = 48000;
constexpr int kDeviceFrames = 512;
// The device's latency in samples, as the session library reads it: the audio thread
// hands over each buffer when its period has been captured and its output plays during
// the next period, one buffer of input and one of output latency.
constexpr int kDeviceLatency = 2 * kDeviceFrames;

struct CallOptions {
    std::string host = "127.0.0.1";
    uint16_t port = 0;
    std::string service = "echo";
    std::string pin = "1234";
    std::string name = "qelcall";
    double seconds = 5;
    bool verbose = false;
    bool echoCancellation = true;
    // Split each click's delay into its stages (needs the library's stage probe).
    bool stageTimes = false;
    // Told everything the call does as it happens (qelcall --stats); the library then
    // logs at level 4, where its jitter-buffer messages are.
    CallObserver* observer = nullptr;
};

struct CallStatistics {
    uint64_t udpSent = 0, udpReceived = 0, tcpSent = 0, tcpReceived = 0;
    uint64_t bytesSent = 0, bytesReceived = 0, udpSendFailures = 0;
    uint64_t audioBuffers = 0, audioLate = 0;
    bool connected = false;
    bool viaUdp = false;
    uint32_t connectMs = 0;  // announce to connected
    // The stamps of each click timed through the stages (options.stageTimes with a
    // library that has the stage probe); `stageProbe` tells whether it had one.
    std::vector<ClickStamps> clicks;
    bool stageProbe = false;
};

// Runs the call to its end: connected for `seconds`, then disconnected. The microphone
// plays from the call's connection on (silence after its end); `heard` receives what
// was played, from the same instant, buffer by buffer from the audio thread. Returns an empty text on success, else the reason.
// `stop` (set from a signal handler) ends the call early and cleanly.
// `library`, when given, is asked for the stage probe (options.stageTimes).
std::string runCall(const QelEntryPoints& qel, const CallOptions& options, const MonoAudio& mic,
                    WavWriter& heard, CallStatistics& stats, const std::atomic<bool>& stop,
                    const QelLibrary* library = nullptr);

}  // namespace qelcall
