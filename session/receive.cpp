// The receive path: bytes from the caller's sockets are walked packet by packet,
// checked, and dispatched by the client's state. Nothing here allocates: the TCP
// stream is reassembled in the client's buffer, datagrams are walked in a buffer of
// their own, and fields are parsed in place.
#include <cstdio>
#include <cstring>

#include "platform/random.h"
#include "session/client_lock.h"
#include "session/receive_check.h"
#include "session/session_steps.h"
#include "session/udp_address.h"

namespace session {

namespace {

constexpr size_t kKeyBytes = sizeof(VoiceClient::m_voiceKey);

struct Received {
    PacketHeader header;
    uint8_t* payload;  // after the header
    size_t payloadLength;
    FieldTable fields;
    bool viaUdp;
    uint32_t now;
};

// The value of `key`, or an empty one, for "%.*s".
struct FieldText {
    int length;
    const char* text;
};
FieldText fieldText(const FieldTable& fields, FieldKey key) noexcept {
    const FieldEntry* entry = findField(fields, key);
    return entry != nullptr ? FieldText{static_cast<int>(entry->length), entry->value} : FieldText{0, ""};
}

int decimalValue(const FieldEntry& entry) noexcept {
    int value = 0;
    for (uint32_t i = 0; i < entry.length && entry.value[i] >= '0' && entry.value[i] <= '9'; ++i) {
        value = value * 10 + (entry.value[i] - '0');
    }
    return value;
}

void announceAnswer(VoiceClient& client, const Received& packet) noexcept {
    const uint32_t now = packet.now;
    if (packet.header.status != E_QELPS_OK) {
        const FieldText error = fieldText(packet.fields, E_FLD_ERROR);
        steps::failSession(client, now, "ANNOUNCE error: %s - %.*s", statusName(packet.header.status),
                           error.length, error.text);
        return;
    }
    const FieldEntry* udpaddr = findField(packet.fields, E_FLD_UDPADDR);
    if (udpaddr == nullptr) {
        steps::failSession(client, now, "ANNOUNCE error: No UDPADDR in response");
        return;
    }
    const int udpaddrLength = static_cast<int>(udpaddr->length);
    if (!parseUdpAddr(udpaddr->value, udpaddr->length, client.m_serverAddress, client.m_serverPort)) {
        steps::failSession(client, now, "ANNOUNCE error: Invalid UDPADDR=%.*s", udpaddrLength,
                           udpaddr->value);
        return;
    }
    // A shorter key would be completed with whatever follows it in the packet.
    const FieldEntry* enckey = findField(packet.fields, E_FLD_ENCKEY);
    if (enckey == nullptr || enckey->length < kKeyBytes) {
        steps::failSession(client, now, "ANNOUNCE error: No ENCKEY in response");
        return;
    }
    std::memcpy(client.m_voiceKey, enckey->value, kKeyBytes);
    // The nonce word must never repeat under one key: the operating system's random
    // source, not the process's rand() or the clock.
    client.m_sendNonce = platform::randomWord();
    client.m_sendSequence = 0;
    client.keyVoiceCipher();
    client.m_token = packet.header.token;
    client.enterState(E_QELCS_ANNOUNCED);
    client.m_stateStart = now;
    client.log().log(kLogInfo, "Announced, got token=%08X, udpaddr=%.*s", client.m_token,
                     udpaddrLength, udpaddr->value);
}

void connectAnswer(VoiceClient& client, const Received& packet) noexcept {
    switch (packet.header.status) {
        case E_QELPS_TRYING:
            return;
        case E_QELPS_OK:
            client.enterState(E_QELCS_CONNECTED);
            client.m_stateStart = packet.now;
            return;
        default: {
            const FieldText error = fieldText(packet.fields, E_FLD_ERROR);
            steps::failSession(client, packet.now, "CONNECT error: Server returned: %s - %.*s",
                               statusName(packet.header.status), error.length, error.text);
        }
    }
}

void connectedPacket(VoiceClient& client, const Received& packet) noexcept {
    if (packet.header.type == E_QELPT_RTP) {
        client.receiveVoiceFrame(packet.payload, packet.payloadLength, packet.now);
    } else if (packet.header.type == E_QELPT_NETSTATE) {
        if (const FieldEntry* lost = findField(packet.fields, E_FLD_UNDER_5SEC)) {
            client.log().log(kLogInfo, "Server 5 sec network report: %d packets lost", decimalValue(*lost));
        }
    }
}

// Acts on one packet that passed the checks. Returns false when the walk must stop.
bool dispatch(VoiceClient& client, Received& packet) noexcept {
    const uint8_t type = packet.header.type;
    if (type != E_QELPT_RTP) {
        parseFields(packet.fields, reinterpret_cast<const char*>(packet.payload), packet.payloadLength);
    }
    if (type == E_QELPT_DISCONNECT) {
        client.log().log(kLogInfo, "Server disconnected (token=%08X)", packet.header.token);
        steps::endSession(client);
        return false;
    }
    switch (client.state()) {
        case E_QELCS_CONNECTED:
            connectedPacket(client, packet);
            break;
        case E_QELCS_ANNOUNCING:
            if (!packet.viaUdp && type == E_QELPT_ANNOUNCE) {
                announceAnswer(client, packet);
            }
            break;
        case E_QELCS_PROBING:
            if (type == E_QELPT_PING) {
                client.enterState(E_QELCS_NETREADY);
                client.m_stateStart = packet.now;
            }
            break;
        case E_QELCS_CONNECTING:
            if (!packet.viaUdp && type == E_QELPT_CONNECT_TO) {
                connectAnswer(client, packet);
            }
            break;
        default:
            break;
    }
    return true;
}

// Walks the packets in bytes[0, total). Returns how many bytes were used up: all of
// them after a framing error or the server's DISCONNECT, otherwise up to the first
// packet that is not complete.
size_t walk(VoiceClient& client, uint8_t* bytes, size_t total, bool viaUdp, uint32_t now) noexcept {
    size_t at = 0;
    for (;;) {
        PacketHeader header;
        switch (checkReceived(bytes + at, total - at, client.m_token, client.log(), header)) {
            case ReceiveVerdict::kNeedMore:
            case ReceiveVerdict::kIncomplete:
                return at;
            case ReceiveVerdict::kDiscardAll:
                return total;
            case ReceiveVerdict::kSkip:
                break;
            case ReceiveVerdict::kAccept: {
                Received packet{header, bytes + at + kHeaderSize, header.len - kHeaderSize, {}, viaUdp, now};
                // After the server's DISCONNECT the session is over: what follows is
                // dropped rather than walked again by every later call.
                if (!dispatch(client, packet)) {
                    return total;
                }
                break;
            }
        }
        at += header.len;
    }
}

}  // namespace

void VoiceClient::recvPacket(const uint8_t* bytes, size_t length, bool viaUdp) noexcept {
    Lock lock(*this, kLockRecvPacket);
    if (!lock) {
        return;
    }
    m_log->log(kLogFinest, "NetRecv=%d (%s)", static_cast<int>(length), viaUdp ? "udp" : "tcp");
    const uint32_t now = m_time.now();
    if (m_stateStart == 0) {
        m_stateStart = now;
    }
    const ClientState current = state();
    if (current == E_QELCS_IDLE || current == E_QELCS_FAILED || bytes == nullptr) {
        return;
    }
    if (viaUdp) {
        // A datagram holds whole packets: it is walked by itself, and a packet cut off at
        // its end can never be completed. It never touches a TCP packet in reassembly.
        if (length <= kReceiveBytes) {
            std::memcpy(m_datagram, bytes, length);
            walk(*this, m_datagram, length, true, now);
        }
        return;
    }
    const size_t pending = static_cast<size_t>(m_receiveFill);
    if (length > kReceiveBytes - pending) {
        // Too much unprocessed input: drop it all and resume with the next whole packet.
        m_receiveFill = 0;
        return;
    }
    std::memcpy(m_receive + pending, bytes, length);
    const size_t total = pending + length;
    const size_t used = walk(*this, m_receive, total, false, now);
    std::memmove(m_receive, m_receive + used, total - used);
    m_receiveFill = static_cast<int32_t>(total - used);
}

}  // namespace session
