#include "tools/qel-server/server_core.h"

#include <algorithm>
#include <array>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <utility>

#include "tools/qel-server/voice_packet.h"

namespace qelserver {

using namespace session;

namespace {

constexpr uint64_t kImpairmentSeedMix = 0x9E3779B97F4A7C15ull;

const char* typeName(uint8_t type) {
    static const char* const kNames[] = {"NONE",   "ANNOUNCE", "PING", "CONNECT_TO", "DISCONNECT",
                                         "UPDATE", "COMMAND",  "RTP",  "NETSTATE"};
    return type <= kLastPacketType ? kNames[type] : "INVALID";
}

const char* transportName(Transport t) {
    return t == Transport::Udp ? "udp" : "tcp";
}

std::string fieldText(const FieldTable& fields, int32_t key) {
    const FieldEntry* e = findField(fields, key);
    return e ? std::string(e->value, e->length) : std::string();
}

}  // namespace

std::string toText(const UdpEndpoint& endpoint) {
    char text[32];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u:%u", endpoint.address >> 24,
                  (endpoint.address >> 16) & 0xFF, (endpoint.address >> 8) & 0xFF,
                  endpoint.address & 0xFF, endpoint.port);
    return text;
}

ServerCore::ServerCore(const ServerOptions& options, UdpEndpoint udpEndpoint, LogSink log,
                       VoiceChannelFactory channels)
    : m_options(options),
      m_udpEndpoint(udpEndpoint),
      m_log(std::move(log)),
      m_random(options.seed),
      m_impairment(options.impairment, options.seed ^ kImpairmentSeedMix),
      m_conference(std::move(channels)) {}

void ServerCore::log(const char* format, ...) {
    if (!m_log) {
        return;
    }
    char line[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    m_log(line);
}

void ServerCore::tcpOpened(ConnId connection, uint64_t nowMs) {
    m_nowMs = nowMs;
    m_connections[connection];
    log("tcp#%llu: connected", static_cast<unsigned long long>(connection));
}

void ServerCore::tcpData(ConnId connection, const uint8_t* bytes, size_t size, uint64_t nowMs) {
    m_nowMs = nowMs;
    auto it = m_connections.find(connection);
    if (it == m_connections.end()) {
        return;
    }
    const Source from{Transport::Tcp, connection, {}};
    const bool intact = it->second.stream.feed(
        bytes, size,
        [&](const uint8_t* packet, size_t length) { handlePacket(from, packet, length, nowMs); });
    if (!intact) {
        // The stream's framing is lost; nothing that follows can be read.
        log("tcp#%llu: broken stream (bad magic or length), closing",
            static_cast<unsigned long long>(connection));
        tcpClosed(connection, nowMs);
        m_closures.push_back(connection);
    }
}

void ServerCore::tcpClosed(ConnId connection, uint64_t nowMs) {
    m_nowMs = nowMs;
    auto it = m_connections.find(connection);
    if (it == m_connections.end()) {
        return;
    }
    if (it->second.token != 0) {
        endSession(it->second.token, "its TCP connection closed");
    }
    m_connections.erase(connection);
    m_impairment.forgetConnection(connection);
    std::erase_if(m_output, [connection](const Outgoing& o) {
        return o.transport == Transport::Tcp && o.connection == connection;
    });
    log("tcp#%llu: closed", static_cast<unsigned long long>(connection));
}

void ServerCore::udpData(const UdpEndpoint& from, const uint8_t* bytes, size_t size,
                         uint64_t nowMs) {
    m_nowMs = nowMs;
    if (m_options.ignoreUdp) {
        if (m_options.verbose) {
            log("udp %s: %zu bytes ignored (--ignore-udp)", toText(from).c_str(), size);
        }
        return;
    }
    const Source source{Transport::Udp, 0, from};
    const bool whole = walkDatagram(bytes, size, [&](const uint8_t* packet, size_t length) {
        handlePacket(source, packet, length, nowMs);
    });
    if (!whole) {
        log("udp %s: datagram of %zu bytes ends in a broken or partial packet",
            toText(from).c_str(), size);
    }
}

void ServerCore::handlePacket(const Source& from, const uint8_t* packet, size_t length,
                              uint64_t nowMs) {
    const PacketHeader h = readHeader(packet);
    if (h.type == E_QELPT_NONE || h.type > kLastPacketType || h.status > kLastPacketStatus) {
        log("%s: bad packet type=%u status=%u, skipped", transportName(from.transport), h.type,
            h.status);
        return;
    }
    FieldTable fields;
    if (h.type != E_QELPT_RTP) {
        parseFields(fields, reinterpret_cast<const char*>(packet) + kHeaderSize,
                    length - kHeaderSize);
    }
    if (h.type == E_QELPT_ANNOUNCE) {
        if (from.transport == Transport::Udp) {
            log("udp %s: ANNOUNCE over UDP ignored (announces go over TCP)",
                toText(from.endpoint).c_str());
            return;
        }
        handleAnnounce(from, fields, nowMs);
        return;
    }
    auto it = m_sessions.find(h.token);
    if (it == m_sessions.end() ||
        (from.transport == Transport::Tcp && it->second.connection != from.connection)) {
        log("%s: %s with unknown token %08X, ignored", transportName(from.transport),
            typeName(h.type), h.token);
        if (h.type == E_QELPT_CONNECT_TO && from.transport == Transport::Tcp && h.token != 0) {
            PacketBuilder answer;
            initPacket(answer, h.token, E_QELPT_CONNECT_TO);
            addField(answer, E_FLD_ERROR, "%s", "not announced");
            sendControl(from, answer, E_QELPS_NOTCONNECTED);
        }
        return;
    }
    Session& s = it->second;
    if (from.transport == Transport::Udp && !(s.udpKnown && s.udp == from.endpoint)) {
        log("session %08X: UDP endpoint %s", s.token, toText(from.endpoint).c_str());
        s.udp = from.endpoint;
        s.udpKnown = true;
    }
    switch (h.type) {
        case E_QELPT_PING:
            if (m_options.noPingAnswer) {
                log("session %08X: PING via %s not answered (--no-ping-answer)", s.token,
                    transportName(from.transport));
                return;
            }
            {
                PacketBuilder answer;
                initPacket(answer, s.token, E_QELPT_PING);
                sendControl(from, answer);
            }
            // The client settles on the transport of the PING answer it gets.
            s.voiceViaUdp = from.transport == Transport::Udp;
            log("session %08X: PING via %s answered", s.token, transportName(from.transport));
            return;
        case E_QELPT_CONNECT_TO:
            if (from.transport == Transport::Udp) {
                log("session %08X: CONNECT_TO over UDP ignored", s.token);
                return;
            }
            handleConnectTo(s, fields, nowMs);
            return;
        case E_QELPT_DISCONNECT:
            endSession(s.token, "the client disconnected");
            return;
        case E_QELPT_UPDATE:
            if (const FieldEntry* name = findField(fields, E_FLD_NAME)) {
                s.name.assign(name->value, name->length);
            }
            log("session %08X: UPDATE name='%s' status='%s'", s.token,
                fieldText(fields, E_FLD_NAME).c_str(), fieldText(fields, E_FLD_STATUS).c_str());
            return;
        case E_QELPT_COMMAND:
            log("session %08X: COMMAND dtmf='%s'", s.token, fieldText(fields, E_FLD_DTMF).c_str());
            return;
        case E_QELPT_RTP:
            handleVoice(s, from, packet, length);
            return;
        default:
            log("session %08X: %s from the client ignored", s.token, typeName(h.type));
            return;
    }
}

void ServerCore::handleAnnounce(const Source& from, const FieldTable& fields, uint64_t nowMs) {
    (void)nowMs;
    Connection& connection = m_connections[from.connection];
    if (connection.token != 0) {
        endSession(connection.token, "its connection announced again");
    }
    log("tcp#%llu: ANNOUNCE name='%s' status='%s' version='%s' codec='%s'",
        static_cast<unsigned long long>(from.connection), fieldText(fields, E_FLD_NAME).c_str(),
        fieldText(fields, E_FLD_STATUS).c_str(), fieldText(fields, E_FLD_VERSION).c_str(),
        fieldText(fields, E_FLD_CODEC).c_str());

    // Even a refusal carries a nonzero token: a client drops packets with token 0.
    const uint32_t token = freshToken();
    const std::string key = m_random.text(32);
    const std::string udpaddr = toText(m_udpEndpoint);
    PacketBuilder answer;
    initPacket(answer, token, E_QELPT_ANNOUNCE);
    uint8_t status = E_QELPS_OK;
    switch (m_options.refusal) {
        case AnnounceRefusal::None:
            addField(answer, E_FLD_UDPADDR, "%s", udpaddr.c_str());
            addField(answer, E_FLD_ENCKEY, "%s", key.c_str());
            break;
        case AnnounceRefusal::Status:
            status = m_options.refusalStatus;
            addField(answer, E_FLD_ERROR, "%s", m_options.refusalError.c_str());
            break;
        case AnnounceRefusal::NoEnckey:
            addField(answer, E_FLD_UDPADDR, "%s", udpaddr.c_str());
            break;
        case AnnounceRefusal::ShortEnckey:
            addField(answer, E_FLD_UDPADDR, "%s", udpaddr.c_str());
            addField(answer, E_FLD_ENCKEY, "%.16s", key.c_str());
            break;
        case AnnounceRefusal::NoUdpaddr:
            addField(answer, E_FLD_ENCKEY, "%s", key.c_str());
            break;
        case AnnounceRefusal::BadUdpaddr:
            addField(answer, E_FLD_UDPADDR, "%s:0", udpaddr.substr(0, udpaddr.find(':')).c_str());
            addField(answer, E_FLD_ENCKEY, "%s", key.c_str());
            break;
    }
    sendControl(from, answer, status);
    if (m_options.refusal != AnnounceRefusal::None) {
        log("tcp#%llu: ANNOUNCE refused (%s)", static_cast<unsigned long long>(from.connection),
            refusalName(m_options.refusal));
        return;
    }
    Session& s = m_sessions[token];
    s.token = token;
    s.connection = from.connection;
    s.key = key;
    s.name = fieldText(fields, E_FLD_NAME);
    connection.token = token;
    log("tcp#%llu: announced, token=%08X udpaddr=%s",
        static_cast<unsigned long long>(from.connection), token, udpaddr.c_str());
}

void ServerCore::handleConnectTo(Session& s, const FieldTable& fields, uint64_t nowMs) {
    const Source to{Transport::Tcp, s.connection, {}};
    const std::string service = fieldText(fields, E_FLD_SERVICE);
    const std::string pin = fieldText(fields, E_FLD_PIN);
    log("session %08X: CONNECT_TO service='%s' pin='%s'", s.token, service.c_str(), pin.c_str());
    if (s.service == Service::Conference) {
        m_conference.leave(s.token);
    }
    s.service = Service::None;

    PacketBuilder answer;
    initPacket(answer, s.token, E_QELPT_CONNECT_TO);
    sendControl(to, answer, E_QELPS_TRYING);

    initPacket(answer, s.token, E_QELPT_CONNECT_TO);
    uint8_t status = E_QELPS_OK;
    if (findField(fields, E_FLD_SERVICE) == nullptr) {
        status = E_QELPS_MISSINGINFO;
        addField(answer, E_FLD_ERROR, "%s", "no service named");
    } else if (service == "echo") {
        s.service = Service::Echo;
        if (m_options.primer) {
            s.echoPrimer = m_conference.channelFor(s.key);
        }
        s.nextPrimeMs = nowMs;
    } else if (service == "conference") {
        if (m_conference.join(pin, s.token, s.key, m_options.primer)) {
            s.service = Service::Conference;
            if (m_nextMixMs == 0 || m_conference.roomSize(pin) == 1) {
                m_nextMixMs = nowMs + Conference::kMixPeriodMs;
            }
        } else {
            status = E_QELPS_CONNECTFAILED;
            addField(answer, E_FLD_ERROR, "%s", "conference unavailable");
        }
    } else {
        status = E_QELPS_NOTFOUND;
        addField(answer, E_FLD_ERROR, "unknown service '%.40s'", service.c_str());
    }
    sendControl(to, answer, status);
    if (s.service == Service::None) {
        log("session %08X: CONNECT_TO refused: %s", s.token, statusName(status));
        return;
    }
    s.loss = LossCounter();
    s.nextNetstateMs = nowMs + m_options.netstateIntervalMs;
    s.disconnectAtMs = m_options.disconnectAfterMs ? nowMs + m_options.disconnectAfterMs : 0;
    log("session %08X: connected to %s", s.token, service.c_str());
}

void ServerCore::handleVoice(Session& s, const Source& from, const uint8_t* packet, size_t length) {
    if (s.service == Service::None) {
        if (m_options.verbose) {
            log("session %08X: voice before CONNECT_TO ignored", s.token);
        }
        return;
    }
    if (length < kHeaderSize + kVoicePrefixBytes) {
        log("session %08X: voice packet of %zu bytes has no sequence, ignored", s.token, length);
        return;
    }
    const uint32_t sequence = voiceSequence(packet);
    s.loss.received(sequence);
    // Voice goes back the way the client sends it: that is where it listens.
    s.voiceViaUdp = from.transport == Transport::Udp;
    if (m_options.verbose) {
        log("session %08X: voice seq=%u len=%zu via %s", s.token, sequence, length,
            transportName(from.transport));
    }
    if (s.service == Service::Echo) {
        s.echoPrimer.reset();
        sendVoice(s, std::vector<uint8_t>(packet, packet + length), m_nowMs);
        return;
    }
    std::vector<uint8_t> payload(packet + kHeaderSize, packet + length);
    m_conference.receive(s.token, payload.data(), payload.size());
}

void ServerCore::sendControl(const Source& to, const PacketBuilder& packet, uint8_t status) {
    Outgoing out;
    out.transport = to.transport;
    out.connection = to.connection;
    out.endpoint = to.endpoint;
    out.bytes.assign(packet.data(), packet.data() + packet.size());
    // The builder writes client packets, whose status is always 0; the server's answers
    // report their result in that byte.
    out.bytes[11] = status;
    m_output.push_back(std::move(out));
}

void ServerCore::primeEcho(Session& s, uint64_t nowMs) {
    const std::array<int16_t, VoiceChannel::kFrameSamples> silence{};
    std::array<uint8_t, 1024> payload;
    const size_t length = s.echoPrimer->encode(silence.data(), payload.data(), payload.size());
    if (length != 0) {
        sendVoice(s, voicePacket(s.token, payload.data(), length), nowMs);
    }
    s.nextPrimeMs = nowMs + Conference::kMixPeriodMs;
}

void ServerCore::sendVoice(Session& s, std::vector<uint8_t> bytes, uint64_t nowMs) {
    Outgoing out;
    if (s.voiceViaUdp && s.udpKnown) {
        out.transport = Transport::Udp;
        out.endpoint = s.udp;
    } else {
        out.transport = Transport::Tcp;
        out.connection = s.connection;
    }
    out.bytes = std::move(bytes);
    if (!m_options.impairment.active()) {
        m_output.push_back(std::move(out));
        return;
    }
    m_impairment.submit(std::move(out), nowMs);
    m_impairment.release(nowMs, m_output);
}

void ServerCore::endSession(uint32_t token, const char* why) {
    auto it = m_sessions.find(token);
    if (it == m_sessions.end()) {
        return;
    }
    Session& s = it->second;
    if (s.service == Service::Conference) {
        m_conference.leave(token);
    }
    auto c = m_connections.find(s.connection);
    if (c != m_connections.end() && c->second.token == token) {
        c->second.token = 0;
    }
    log("session %08X: ended, %s (voice received %llu, lost %llu)", token, why,
        static_cast<unsigned long long>(s.loss.received()),
        static_cast<unsigned long long>(s.loss.total()));
    m_sessions.erase(it);
}

uint32_t ServerCore::freshToken() {
    for (;;) {
        const uint32_t token = m_random.next32();
        if (token != 0 && m_sessions.count(token) == 0) {
            return token;
        }
    }
}

void ServerCore::tick(uint64_t nowMs) {
    m_nowMs = nowMs;
    m_impairment.release(nowMs, m_output);

    std::vector<uint32_t> ending;
    for (auto& [token, s] : m_sessions) {
        if (s.service == Service::None) {
            continue;
        }
        if (s.disconnectAtMs != 0 && nowMs >= s.disconnectAtMs) {
            ending.push_back(token);
            continue;
        }
        if (s.echoPrimer && nowMs >= s.nextPrimeMs) {
            primeEcho(s, nowMs);
        }
        if (nowMs >= s.nextNetstateMs) {
            const uint32_t lost = s.loss.takeWindow();
            PacketBuilder report;
            initPacket(report, token, E_QELPT_NETSTATE);
            addField(report, E_FLD_UNDER_5SEC, "%u", lost);
            sendControl(Source{Transport::Tcp, s.connection, {}}, report);
            log("session %08X: NETSTATE under5=%u", token, lost);
            s.nextNetstateMs += m_options.netstateIntervalMs;
            if (s.nextNetstateMs <= nowMs) {
                s.nextNetstateMs = nowMs + m_options.netstateIntervalMs;
            }
        }
    }
    for (uint32_t token : ending) {
        PacketBuilder bye;
        initPacket(bye, token, E_QELPT_DISCONNECT);
        sendControl(Source{Transport::Tcp, m_sessions.at(token).connection, {}}, bye);
        endSession(token, "server disconnect (--disconnect-after)");
    }

    if (!m_conference.empty() && nowMs >= m_nextMixMs) {
        m_conference.mix([&](uint32_t token, const uint8_t* payload, size_t length) {
            auto it = m_sessions.find(token);
            if (it == m_sessions.end()) {
                return;
            }
            sendVoice(it->second, voicePacket(token, payload, length), nowMs);
        });
        m_nextMixMs += Conference::kMixPeriodMs;
        // A stalled loop re-anchors rather than mixing a burst of empty steps.
        if (m_nextMixMs <= nowMs) {
            m_nextMixMs = nowMs + Conference::kMixPeriodMs;
        }
    }
}

uint64_t ServerCore::nextWakeMs() const {
    uint64_t wake = m_impairment.nextDue();
    for (const auto& [token, s] : m_sessions) {
        if (s.service == Service::None) {
            continue;
        }
        wake = std::min(wake, s.nextNetstateMs);
        if (s.echoPrimer) {
            wake = std::min(wake, s.nextPrimeMs);
        }
        if (s.disconnectAtMs != 0) {
            wake = std::min(wake, s.disconnectAtMs);
        }
    }
    if (!m_conference.empty()) {
        wake = std::min(wake, m_nextMixMs);
    }
    return wake;
}

std::vector<Outgoing> ServerCore::takeOutput() {
    return std::exchange(m_output, {});
}

std::vector<ConnId> ServerCore::takeClosures() {
    return std::exchange(m_closures, {});
}

std::vector<SessionView> ServerCore::sessions() const {
    std::vector<SessionView> views;
    for (const auto& [token, s] : m_sessions) {
        SessionView v;
        v.token = token;
        v.connection = s.connection;
        v.key = s.key;
        v.name = s.name;
        v.service = s.service;
        v.voiceViaUdp = s.voiceViaUdp;
        v.udpKnown = s.udpKnown;
        v.voiceReceived = s.loss.received();
        v.voiceLost = s.loss.total();
        views.push_back(std::move(v));
    }
    return views;
}

}  // namespace qelserver
