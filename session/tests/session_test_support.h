// Shared pieces of the session client's tests: a clock the test moves, server packets
// built byte by byte, and the client's log as plain lines.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "session/voice_client.h"

namespace session::testing {

// The client's clock. poll's sleep moves it, so a test runs a minute of session in
// microseconds and every time it sees is exact.
struct FakeClock {
    static inline uint32_t now = 0;
    static uint32_t read() noexcept { return now; }
    static void sleep(uint32_t ms) noexcept { now += ms; }
    // A frame already signalled ends the wait at once; otherwise the whole wait passes.
    static bool wait(platform::Semaphore& wake, uint32_t ms) noexcept {
        if (wake.tryAcquireFor(0)) {
            return true;
        }
        now += ms;
        return false;
    }
    static TimeSource source() noexcept { return {&read, &sleep, &wait}; }
};

constexpr uint32_t kServerToken = 0x51A7E001;
// 32 characters, as the server sends it.
inline const std::string kKey = "0123456789abcdefghijklmnopqrstuv";

// A packet as a server sends it: header and the text given, len computed.
inline std::vector<uint8_t> serverPacket(uint8_t type, uint8_t status, const std::string& text = "",
                                         uint32_t token = kServerToken) {
    std::vector<uint8_t> bytes(kHeaderSize);
    PacketHeader header;
    header.magic = kPacketMagic;
    header.token = token;
    header.len = static_cast<uint16_t>(kHeaderSize + text.size());
    header.type = type;
    header.status = status;
    writeHeader(bytes.data(), header);
    bytes.insert(bytes.end(), text.begin(), text.end());
    return bytes;
}

inline std::vector<uint8_t> joined(std::vector<std::vector<uint8_t>> packets) {
    std::vector<uint8_t> out;
    for (const auto& p : packets) {
        out.insert(out.end(), p.begin(), p.end());
    }
    return out;
}

inline std::vector<uint8_t> announceOk(const std::string& udpaddr = "127.0.0.1:40000") {
    return serverPacket(E_QELPT_ANNOUNCE, E_QELPS_OK, "udpaddr:" + udpaddr + "\nenckey:" + kKey + "\n");
}

// The messages of one walk of the client's log, without their time stamps.
inline std::vector<std::string> messages(VoiceClient& client) {
    std::vector<std::string> out;
    while (const LogWalkEntry* e = client.log().walk()) {
        out.emplace_back(e->text + 9);
    }
    return out;
}

inline bool logged(const std::vector<std::string>& lines, const std::string& text) {
    return std::find(lines.begin(), lines.end(), text) != lines.end();
}

inline bool loggedPrefix(const std::vector<std::string>& lines, const std::string& prefix) {
    return std::any_of(lines.begin(), lines.end(),
                       [&](const std::string& line) { return line.rfind(prefix, 0) == 0; });
}

// A client on the fake clock, logging everything.
class SessionTest : public ::testing::Test {
protected:
    void SetUp() override {
        FakeClock::now = 100000;
        client = VoiceClient::create();
        ASSERT_NE(client, nullptr);
        client->setTimeSource(FakeClock::source());
        client->log().setLevel(5);
    }

    void receive(const std::vector<uint8_t>& bytes, bool viaUdp = false) {
        client->recvPacket(bytes.data(), bytes.size(), viaUdp);
    }

    // Puts the client in `state` as if it had got there, holding the server's token.
    void enter(ClientState state) {
        client->m_token = kServerToken;
        client->enterState(state);
    }

    std::unique_ptr<VoiceClient> client;
};

}  // namespace session::testing
