// Fuzz target for the receive path, in every client state. The input chooses the state
// and whether the client already holds a token, then is cut into blocks, each handed to
// recvPacket as a UDP datagram or a piece of the TCP stream, some followed by a poll
// step. The client's clock is the target's own, so a run is reproducible.
//
// Input: byte 0 state (mod 9), byte 1 flags (bit 0: client holds token 0x51A7E001),
// then blocks of [h, l, bytes...]: length ((h & 0x0F) << 8) | l, bit 7 of h: UDP,
// bit 6 of h: poll after the block.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "session/voice_client.h"

using namespace session;

namespace {

uint32_t g_now = 0;
uint32_t fakeNow() noexcept { return g_now; }
void fakeSleep(uint32_t ms) noexcept { g_now += ms; }
bool fakeWait(platform::Semaphore& wake, uint32_t ms) noexcept {
    if (wake.tryAcquireFor(0)) {
        return true;
    }
    g_now += ms;
    return false;
}

void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) {
        return 0;
    }
    static std::unique_ptr<VoiceClient> client = VoiceClient::create();
    client->reset();
    client->log().setLevel(5);
    g_now = 1;
    client->setTimeSource({&fakeNow, &fakeSleep, &fakeWait});
    client->enterState(static_cast<ClientState>(data[0] % 9));
    if (data[1] & 1) {
        client->m_token = 0x51A7E001;
    }
    size_t at = 2;
    while (at + 2 <= size) {
        const uint8_t head = data[at];
        size_t length = (static_cast<size_t>(head & 0x0F) << 8) | data[at + 1];
        at += 2;
        if (length > size - at) {
            length = size - at;
        }
        // An exact copy, so that a read past the block is caught.
        std::vector<uint8_t> block(data + at, data + at + length);
        at += length;
        g_now += 7;
        client->recvPacket(block.data(), block.size(), (head & 0x80) != 0);
        check(client->m_receiveFill >= 0 && client->m_receiveFill <= static_cast<int32_t>(VoiceClient::kReceiveBytes));
        check(client->state() >= E_QELCS_IDLE && client->state() <= E_QELCS_DISCONNECTED);
        if (head & 0x40) {
            PollEvent event;
            const bool got = client->poll(event);
            check(got == (event.code != E_QELEV_NONE));
            check(event.length >= 0 && event.length <= static_cast<int32_t>(sizeof event.data));
            if (event.code == E_QELEV_ERROR) {
                check(std::strlen(reinterpret_cast<const char*>(event.data)) == static_cast<size_t>(event.length));
            }
        }
    }
    // Drain the log, so that every message formatted on the way is also walked.
    while (client->log().walk() != nullptr) {
    }
    return 0;
}
