// Transport detection and the send step: which packet goes to the caller next, and
// whether it travels by UDP or TCP.
#include <cstring>

#include "session/session_steps.h"

namespace session::steps {

namespace {

constexpr size_t kVoiceHead = kHeaderSize + 8;  // header, nonce word, sequence

void put32(uint8_t* at, uint32_t value) noexcept {
    for (int i = 0; i < 4; ++i) {
        at[i] = static_cast<uint8_t>(value >> (8 * i));
    }
}

// Queues a PING; false when no slot is free (the next tick tries again).
bool queuePing(VoiceClient& client) noexcept {
    sReq* slot = client.requests().take();
    if (slot == nullptr) {
        client.log().log(kLogSevere, "Out of sReq slots!");
        return false;
    }
    initPacket(slot->packet, client.m_token, E_QELPT_PING);
    client.requests().enqueue(slot);
    return true;
}

bool sendVoice(VoiceClient& client, PollEvent& event) noexcept {
    uint8_t* packet = event.data;
    PacketHeader header;
    header.magic = kPacketMagic;
    header.token = client.m_token;
    header.len = kVoiceHead;
    header.type = E_QELPT_RTP;
    writeHeader(packet, header);
    put32(packet + 16, client.m_sendNonce);
    put32(packet + 20, client.m_sendSequence);
    const int frame = client.encodeVoiceFrame(packet, sizeof event.data);
    if (frame == VoiceClient::kNoVoiceFrame) {
        event.data[0] = 0;
        return false;
    }
    // The frame never exceeds the area; a misbehaving encoder is cut to it.
    const size_t room = sizeof event.data - kVoiceHead;
    const size_t bytes = frame > 0 ? static_cast<size_t>(frame) : 0;
    header.len = static_cast<uint16_t>(kVoiceHead + (bytes < room ? bytes : room));
    writeHeader(packet, header);
    event.code = client.m_udpUsable ? E_QELEV_SEND_UDP : E_QELEV_SEND_TCP;
    event.length = header.len;
    ++client.m_sendSequence;
    client.log().log(kLogFinest, "Encoded RTP=%d", event.length);
    return true;
}

}  // namespace

void sendStep(VoiceClient& client, PollEvent& event) noexcept {
    if (client.state() == E_QELCS_CONNECTED && sendVoice(client, event)) {
        return;
    }
    sReq* slot = client.requests().pop();
    if (slot == nullptr) {
        return;
    }
    const bool probe = client.state() == E_QELCS_PROBING && slot->packet.type() == E_QELPT_PING &&
                       client.m_udpUsable;
    event.code = probe ? E_QELEV_SEND_UDP : E_QELEV_SEND_TCP;
    event.length = slot->packet.size();
    std::memcpy(event.data, slot->packet.data(), slot->packet.size());
    client.requests().recycle(slot);
    client.log().log(kLogFinest, "NetSend=%d (%d)", event.length, event.code);
}

void detectionStep(VoiceClient& client, uint32_t now, PollEvent& event) noexcept {
    const uint32_t elapsed = now - client.m_stateStart;
    switch (client.state()) {
        case E_QELCS_ANNOUNCED:
            // The caller aims its UDP socket; probing starts with the next tick.
            event.code = E_QELEV_UDPADDR;
            std::memcpy(event.data, &client.m_serverAddress, 4);
            put32(event.data + 4, static_cast<uint32_t>(client.m_serverPort));
            client.enterState(E_QELCS_PROBING);
            return;
        case E_QELCS_PROBING: {
            // The counter holds the elapsed time at which the next PING is due; 0 once
            // the client has fallen back to TCP.
            const auto due = static_cast<uint32_t>(client.m_stateCounter);
            if (elapsed < kProbeWindowMs) {
                client.m_udpUsable = 1;
                if (elapsed < due) {
                    return;
                }
                if (!queuePing(client)) {
                    return;
                }
                client.log().log(kLogInfo, "UDP PING");
                client.m_stateCounter = static_cast<int32_t>(due + kProbeIntervalMs);
            } else if (due != 0) {
                client.log().log(kLogSevere, "Gave up on UDP, switching to TCP");
                client.m_udpUsable = 0;
                if (!queuePing(client)) {
                    return;
                }
                client.m_stateCounter = 0;
            }
            // No answer yet after the fall-back: wait without limit, sending what queues.
            sendStep(client, event);
            return;
        }
        case E_QELCS_NETREADY:
            if (client.m_stateCounter == 0) {
                client.log().log(kLogInfo, "Finished net detection, UDP=%d", client.m_udpUsable ? 1 : 0);
                event.code = client.m_udpUsable ? E_QELEV_NET_UDP : E_QELEV_NET_TCP;
                client.m_stateCounter = 1;
            }
            // Queued requests wait for connectVoice.
            return;
        default:
            return;
    }
}

}  // namespace session::steps
