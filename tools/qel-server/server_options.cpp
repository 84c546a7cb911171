#include "tools/qel-server/server_options.h"

#include <charconv>
#include <cstring>
#include <optional>

#include "session/packet.h"

namespace qelserver {

namespace {

template <typename T>
std::optional<T> parseNumber(const std::string& text, T low, T high) {
    T value{};
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end || value < low || value > high) {
        return std::nullopt;
    }
    return value;
}

std::optional<double> parsePercent(const std::string& text) {
    // from_chars for double is not in every libstdc++ we meet; strtod with a full-match
    // check does the same job.
    if (text.empty()) {
        return std::nullopt;
    }
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (end != text.c_str() + text.size() || !(value >= 0 && value <= 100)) {
        return std::nullopt;
    }
    return value;
}

std::optional<AnnounceRefusal> parseRefusal(const std::string& text) {
    for (auto mode :
         {AnnounceRefusal::Status, AnnounceRefusal::NoEnckey, AnnounceRefusal::ShortEnckey,
          AnnounceRefusal::NoUdpaddr, AnnounceRefusal::BadUdpaddr}) {
        if (text == refusalName(mode)) {
            return mode;
        }
    }
    return std::nullopt;
}

// A failure status by number or by name; E_QELPS_OK and E_QELPS_TRYING are not refusals.
std::optional<uint8_t> parseRefusalStatus(const std::string& text) {
    std::optional<uint8_t> status = parseNumber<uint8_t>(text, 0, session::kLastPacketStatus);
    if (!status) {
        for (uint8_t s = 0; s <= session::kLastPacketStatus; ++s) {
            if (text == session::statusName(s)) {
                status = s;
            }
        }
    }
    if (status && (*status == session::E_QELPS_OK || *status == session::E_QELPS_TRYING)) {
        return std::nullopt;
    }
    return status;
}

}  // namespace

const char* refusalName(AnnounceRefusal refusal) noexcept {
    switch (refusal) {
        case AnnounceRefusal::None:
            return "none";
        case AnnounceRefusal::Status:
            return "status";
        case AnnounceRefusal::NoEnckey:
            return "no-enckey";
        case AnnounceRefusal::ShortEnckey:
            return "short-enckey";
        case AnnounceRefusal::NoUdpaddr:
            return "no-udpaddr";
        case AnnounceRefusal::BadUdpaddr:
            return "bad-udpaddr";
    }
    return "?";
}

ParsedOptions parseOptions(const std::vector<std::string>& args) {
    ParsedOptions result;
    ServerOptions& o = result.options;
    for (size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::optional<std::string> inlineValue;
        if (const size_t eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
            inlineValue = name.substr(eq + 1);
            name.resize(eq);
        }
        auto flag = [&]() {
            if (inlineValue) {
                result.error = name + " takes no value";
            }
        };
        auto value = [&]() -> std::optional<std::string> {
            if (inlineValue) {
                return inlineValue;
            }
            if (i + 1 < args.size()) {
                return args[++i];
            }
            result.error = name + " needs a value";
            return std::nullopt;
        };
        auto bad = [&](const std::string& v) {
            result.error = "bad value for " + name + ": '" + v + "'";
        };

        if (name == "--help" || name == "-h") {
            flag();
            result.help = true;
        } else if (name == "--ignore-udp") {
            flag();
            o.ignoreUdp = true;
        } else if (name == "--no-primer" || name == "--no-echo-primer") {
            flag();
            o.primer = false;
        } else if (name == "--no-ping-answer") {
            flag();
            o.noPingAnswer = true;
        } else if (name == "--verbose") {
            flag();
            o.verbose = true;
        } else if (name == "--tcp-port" || name == "--udp-port") {
            if (auto v = value()) {
                if (auto port = parseNumber<uint16_t>(*v, 0, 65535)) {
                    (name == "--tcp-port" ? o.tcpPort : o.udpPort) = *port;
                } else {
                    bad(*v);
                }
            }
        } else if (name == "--seed") {
            if (auto v = value()) {
                if (auto seed = parseNumber<uint64_t>(*v, 0, UINT64_MAX)) {
                    o.seed = *seed;
                    o.seedGiven = true;
                } else {
                    bad(*v);
                }
            }
        } else if (name == "--refuse-announce") {
            if (auto v = value()) {
                if (auto mode = parseRefusal(*v)) {
                    o.refusal = *mode;
                } else {
                    bad(*v);
                }
            }
        } else if (name == "--refuse-status") {
            if (auto v = value()) {
                if (auto status = parseRefusalStatus(*v)) {
                    o.refusalStatus = *status;
                } else {
                    bad(*v);
                }
            }
        } else if (name == "--refuse-error") {
            if (auto v = value()) {
                // The error field's cap leaves 62 characters, and a line feed would end it.
                if (v->size() < session::kFieldKeys[session::E_FLD_ERROR].cap &&
                    v->find('\n') == std::string::npos) {
                    o.refusalError = *v;
                } else {
                    bad(*v);
                }
            }
        } else if (name == "--loss" || name == "--reorder") {
            if (auto v = value()) {
                if (auto pct = parsePercent(*v)) {
                    (name == "--loss" ? o.impairment.lossPercent : o.impairment.reorderPercent) =
                        *pct;
                } else {
                    bad(*v);
                }
            }
        } else if (name == "--stall" || name == "--stall-every") {
            if (auto v = value()) {
                const uint32_t low = name == "--stall-every" ? 1 : 0;
                if (auto ms = parseNumber<uint32_t>(*v, low, 3'600'000)) {
                    (name == "--stall" ? o.impairment.stallMs : o.impairment.stallEveryMs) = *ms;
                } else {
                    bad(*v);
                }
            }
        } else if (name == "--jitter" || name == "--disconnect-after" ||
                   name == "--netstate-interval") {
            if (auto v = value()) {
                const uint32_t low = name == "--netstate-interval" ? 1 : 0;
                if (auto ms = parseNumber<uint32_t>(*v, low, 3'600'000)) {
                    (name == "--jitter"             ? o.impairment.jitterMs
                     : name == "--disconnect-after" ? o.disconnectAfterMs
                                                    : o.netstateIntervalMs) = *ms;
                } else {
                    bad(*v);
                }
            }
        } else {
            result.error = "unknown option '" + args[i] + "'";
        }
        if (!result.error.empty()) {
            return result;
        }
    }
    if (o.impairment.stallMs >= o.impairment.stallEveryMs) {
        result.error = "--stall must be shorter than --stall-every";
    }
    return result;
}

std::string helpText(const char* program) {
    std::string text = "Usage: ";
    text += program;
    text += R"( [options]

A voice server for tests and development: speaks the session protocol over TCP and UDP
on 127.0.0.1. Prints "qel-server listening tcp=PORT udp=PORT" on standard output once
ready, logs to standard error, and stops on SIGINT or SIGTERM (exit status 0).

Services: "echo" sends every voice packet back to its sender; "conference" mixes the
voice of everyone who joined with the same pin and sends each one the others.

Options:
  --tcp-port N            TCP port to listen on (default 0: picked by the system)
  --udp-port N            UDP port (default 0: picked by the system)
  --seed N                seed for tokens, keys and impairment (default: random, logged)
  --refuse-announce MODE  answer every ANNOUNCE with a refusal:
                            status        the --refuse-status with the --refuse-error text
                            no-enckey     OK without a key
                            short-enckey  OK with a key shorter than 32 characters
                            no-udpaddr    OK without a UDP endpoint
                            bad-udpaddr   OK with an unusable UDP endpoint (port 0)
  --refuse-status S       status of a "status" refusal, number or name
                          (default 2, E_QELPS_NOPRIV)
  --refuse-error TEXT     error text of a "status" refusal (default "announce refused")
  --ignore-udp            drop every UDP datagram (clients fall back to TCP)
  --no-primer             echo, conference: no silent frames before a client's first
                          voice (--no-echo-primer is the same)
  --no-ping-answer        never answer PING (clients stay in network detection)
  --loss PCT              drop this percentage of the voice packets sent
  --jitter MS             delay each voice packet sent by 0 to MS milliseconds
  --reorder PCT           hold this percentage of voice packets back behind the next one
  --stall MS              once every --stall-every, hold every voice packet sent for MS
                          milliseconds, then send them all at once (a link that stalls)
  --stall-every MS        period of the stalls, counted from the first voice packet
                          (default 20000: e.g. --stall 100 stalls at 20 s, 40 s, ...)
  --disconnect-after MS   end each call with a DISCONNECT MS after it connected
  --netstate-interval MS  period of the NETSTATE loss reports (default 5000)
  --verbose               log every voice packet
  --help                  this text
)";
    return text;
}

}  // namespace qelserver
