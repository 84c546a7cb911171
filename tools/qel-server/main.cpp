// qel-server: a voice server for tests, demos and development against the session
// protocol. See --help.
#include <cstdio>
#include <ctime>
#include <random>
#include <string>
#include <vector>

#include "tools/qel-server/event_loop.h"
#include "tools/qel-server/server_core.h"
#include "tools/qel-server/server_options.h"
#include "tools/qel-server/voice_channels.h"

using namespace qelserver;

namespace {

// One line on standard error, stamped with the wall-clock time to the millisecond.
void logLine(const std::string& line) {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    tm parts{};
    localtime_r(&ts.tv_sec, &parts);
    std::fprintf(stderr, "%02d:%02d:%02d.%03ld qel-server: %s\n", parts.tm_hour, parts.tm_min,
                 parts.tm_sec, ts.tv_nsec / 1'000'000, line.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    const ParsedOptions parsed = parseOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (parsed.help) {
        std::fputs(helpText("qel-server").c_str(), stdout);
        return 0;
    }
    if (!parsed.error.empty()) {
        std::fprintf(stderr, "qel-server: %s (see --help)\n", parsed.error.c_str());
        return 2;
    }
    ServerOptions options = parsed.options;
    if (!options.seedGiven) {
        std::random_device device;
        options.seed = (uint64_t{device()} << 32) | device();
    }

    std::string error;
    std::unique_ptr<EventLoop> loop =
        EventLoop::open(options.tcpPort, options.udpPort, logLine, error);
    if (!loop) {
        std::fprintf(stderr, "qel-server: %s\n", error.c_str());
        return 1;
    }
    ServerCore core(options, UdpEndpoint{0x7F000001u, loop->udpPort()}, logLine,
                    makeVoiceChannelFactory());

    logLine("seed " + std::to_string(options.seed) + " (repeat a run with --seed " +
            std::to_string(options.seed) + ")");
    if (options.refusal != AnnounceRefusal::None) {
        logLine(std::string("refusing every announce: ") + refusalName(options.refusal));
    }
    if (options.ignoreUdp) {
        logLine("ignoring UDP");
    }
    if (options.noPingAnswer) {
        logLine("never answering PING");
    }
    if (options.impairment.active()) {
        char text[128];
        std::snprintf(text, sizeof text,
                      "impairing voice: loss %.1f%%, jitter %u ms, reorder %.1f%%",
                      options.impairment.lossPercent, options.impairment.jitterMs,
                      options.impairment.reorderPercent);
        logLine(text);
    }
    if (options.impairment.stallMs > 0) {
        logLine("stalling voice: " + std::to_string(options.impairment.stallMs) + " ms every " +
                std::to_string(options.impairment.stallEveryMs) + " ms");
    }
    // The line tests and scripts wait for; flushed so a pipe sees it at once.
    std::printf("qel-server listening tcp=%u udp=%u\n", loop->tcpPort(), loop->udpPort());
    std::fflush(stdout);

    const int rc = loop->run(core);
    logLine(rc == 0 ? "stopped" : "stopped on an error");
    return rc;
}
