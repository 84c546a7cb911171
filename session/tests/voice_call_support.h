// Clients in a call, for the tests that carry voice between two real clients.
#pragma once

#include <memory>
#include <string>

#include "session/tests/session_test_support.h"

namespace session::testing {

// A client in the connected state holding `key`, as after a real ANNOUNCE answer, with
// its device at 48 kHz and 512 frames. `fakeClock`: the poll schedule runs on
// FakeClock, else on the system's clock.
inline std::unique_ptr<VoiceClient> connectedClient(const std::string& key, bool fakeClock) {
    auto client = VoiceClient::create();
    if (fakeClock) {
        client->setTimeSource(FakeClock::source());
    }
    client->log().setLevel(5);
    EXPECT_EQ(client->audioSetup(48000, 512, 960), 2);
    EXPECT_TRUE(client->announce());
    PollEvent event;
    EXPECT_TRUE(client->poll(event));  // the ANNOUNCE goes out
    const auto answer = serverPacket(E_QELPT_ANNOUNCE, E_QELPS_OK, "udpaddr:127.0.0.1:4000\nenckey:" + key + "\n");
    client->recvPacket(answer.data(), answer.size(), false);
    EXPECT_EQ(client->state(), E_QELCS_ANNOUNCED);
    client->enterState(E_QELCS_CONNECTED);
    client->m_udpUsable = 1;
    EXPECT_TRUE(client->poll(event));
    EXPECT_EQ(event.code, E_QELEV_CONNECTED);
    return client;
}

// The server's first voice packet (an empty frame): a client captures nothing before
// one has arrived.
inline void openAudioGate(VoiceClient& client) {
    const auto first = serverPacket(E_QELPT_RTP, E_QELPS_NONE, std::string(10, '\0'));
    client.recvPacket(first.data(), first.size(), true);
}

}  // namespace session::testing
