// The protocol side of the test voice server, apart from any socket: the session
// table, the answers to every client packet, the echo and conference services, the
// periodic loss reports, server disconnects and voice impairment.
//
// The socket loop feeds it what arrives (with the time, in milliseconds of any
// monotonic clock), calls tick() when nextWakeMs() comes, and sends what takeOutput()
// hands back. Tests drive it the same way without sockets. Single-threaded.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tools/qel-server/conference.h"
#include "tools/qel-server/loss_counter.h"
#include "tools/qel-server/packet_stream.h"
#include "tools/qel-server/seeded_random.h"
#include "tools/qel-server/server_options.h"
#include "tools/qel-server/server_types.h"
#include "tools/qel-server/voice_impairment.h"

namespace qelserver {

enum class Service { None, Echo, Conference };

// What tests and logs may know of a session.
struct SessionView {
    uint32_t token = 0;
    ConnId connection = 0;
    std::string key;
    std::string name;
    Service service = Service::None;
    bool voiceViaUdp = false;
    bool udpKnown = false;
    uint64_t voiceReceived = 0;
    uint64_t voiceLost = 0;
};

class ServerCore {
  public:
    using LogSink = std::function<void(const std::string& line)>;

    // `udpEndpoint` is what ANNOUNCE answers advertise. A null channel factory leaves
    // the conference service unavailable.
    ServerCore(const ServerOptions& options, UdpEndpoint udpEndpoint, LogSink log,
               VoiceChannelFactory channels = nullptr);

    void tcpOpened(ConnId connection, uint64_t nowMs);
    void tcpData(ConnId connection, const uint8_t* bytes, size_t size, uint64_t nowMs);
    void tcpClosed(ConnId connection, uint64_t nowMs);
    void udpData(const UdpEndpoint& from, const uint8_t* bytes, size_t size, uint64_t nowMs);

    // Timed work: impaired voice coming due, loss reports, server disconnects, the
    // conference mix. Cheap to call at any time.
    void tick(uint64_t nowMs);
    // When tick() next has work, or UINT64_MAX.
    uint64_t nextWakeMs() const;

    // Packets to send, in order; the queue is emptied.
    std::vector<Outgoing> takeOutput();
    // TCP connections whose stream broke; the loop closes them (no tcpClosed needed).
    std::vector<ConnId> takeClosures();

    size_t sessionCount() const noexcept { return m_sessions.size(); }
    std::vector<SessionView> sessions() const;

  private:
    struct Session {
        uint32_t token = 0;
        ConnId connection = 0;
        std::string key;
        std::string name;
        UdpEndpoint udp;
        bool udpKnown = false;
        bool voiceViaUdp = false;
        Service service = Service::None;
        std::string pin;
        LossCounter loss;
        uint64_t nextNetstateMs = 0;
        uint64_t disconnectAtMs = 0;  // 0: none
        // Echo: a client plays and captures only once it has heard voice, so the
        // service sends silent frames every 20 ms until the client's first voice.
        std::shared_ptr<VoiceChannel> echoPrimer;
        uint64_t nextPrimeMs = 0;
    };

    struct Connection {
        PacketStream stream;
        uint32_t token = 0;  // its session, 0 while it has none
    };

    struct Source {
        Transport transport;
        ConnId connection;     // TCP only
        UdpEndpoint endpoint;  // UDP only
    };

    void handlePacket(const Source& from, const uint8_t* packet, size_t length, uint64_t nowMs);
    void handleAnnounce(const Source& from, const session::FieldTable& fields, uint64_t nowMs);
    void handleConnectTo(Session& s, const session::FieldTable& fields, uint64_t nowMs);
    void handleVoice(Session& s, const Source& from, const uint8_t* packet, size_t length);
    void sendControl(const Source& to, const session::PacketBuilder& packet,
                     uint8_t status = session::E_QELPS_NONE);
    void sendVoice(Session& s, std::vector<uint8_t> bytes, uint64_t nowMs);
    void primeEcho(Session& s, uint64_t nowMs);
    void endSession(uint32_t token, const char* why);
    uint32_t freshToken();
    void log(const char* format, ...) QEL_PRINTF_FORMAT(2, 3);

    ServerOptions m_options;
    UdpEndpoint m_udpEndpoint;
    LogSink m_log;
    SeededRandom m_random;
    VoiceImpairment m_impairment;
    Conference m_conference;
    std::map<uint32_t, Session> m_sessions;
    std::map<ConnId, Connection> m_connections;
    std::vector<Outgoing> m_output;
    std::vector<ConnId> m_closures;
    uint64_t m_nextMixMs = 0;
    uint64_t m_nowMs = 0;
};

}  // namespace qelserver
