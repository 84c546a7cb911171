// Command-line options of the test voice server.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qelserver {

// How the server turns down an ANNOUNCE, when it is told to. Every mode is an answer a
// client must cope with: a failure status (optionally with an error text), or an OK
// answer that lacks a usable key or endpoint.
enum class AnnounceRefusal {
    None,
    Status,       // the refusal status with the error text
    NoEnckey,     // OK without the enckey field
    ShortEnckey,  // OK with an enckey of fewer than 32 characters
    NoUdpaddr,    // OK without the udpaddr field
    BadUdpaddr,   // OK with an udpaddr whose port is 0
};

const char* refusalName(AnnounceRefusal refusal) noexcept;

// Impairment of the voice packets the server sends.
struct ImpairmentConfig {
    double lossPercent = 0;     // each packet is dropped with this chance
    uint32_t jitterMs = 0;      // each packet is delayed by 0..jitterMs
    double reorderPercent = 0;  // each packet is held back behind the next with this chance
    // A stalled link, as Wi-Fi gives: once every stallEveryMs (counted from the first
    // voice packet sent), every packet is held for stallMs and they all go in a burst.
    uint32_t stallMs = 0;
    uint32_t stallEveryMs = 20000;

    bool active() const noexcept {
        return lossPercent > 0 || jitterMs > 0 || reorderPercent > 0 || stallMs > 0;
    }
};

struct ServerOptions {
    uint16_t tcpPort = 0;  // 0: the system picks one
    uint16_t udpPort = 0;
    uint64_t seed = 0;
    bool seedGiven = false;
    AnnounceRefusal refusal = AnnounceRefusal::None;
    uint8_t refusalStatus = 2;  // E_QELPS_NOPRIV
    std::string refusalError = "announce refused";
    bool ignoreUdp = false;
    // Echo and conference send silence until a client's first voice (clients wait to
    // hear before they speak); raw-packet tests switch it off to see only the voice they
    // send come back.
    bool primer = true;
    bool noPingAnswer = false;
    ImpairmentConfig impairment;
    uint32_t disconnectAfterMs = 0;  // 0: never
    uint32_t netstateIntervalMs = 5000;
    bool verbose = false;  // log every voice packet
};

struct ParsedOptions {
    ServerOptions options;
    bool help = false;
    std::string error;  // empty when the command line was understood
};

// Reads "--name value" and "--name=value" forms; args excludes the program name.
ParsedOptions parseOptions(const std::vector<std::string>& args);

std::string helpText(const char* program);

}  // namespace qelserver
