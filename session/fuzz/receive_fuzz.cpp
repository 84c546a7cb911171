// Fuzz target for the receive path, in every client state. The input chooses the state
// and whether the client already holds a token, then is cut into blocks, each handed to
// recvPacket as a UDP datagram or a piece of the TCP stream, some followed by a poll
// step. The client's clock is the target's own, so a run is reproducible.
//
// Input: byte 0 state (mod 9), byte 1 flags (bit 0: client holds token 0x51A7E001),
// then blocks of [h, l, bytes...]: length ((h & 0x0F) << 8) | l, bit 7 of h: UDP,
// bit 6 of h: poll after the block.
//
// One client serves every input, with the device format set once as the engine sets it
// before a call, so voice packets reach the cipher, the jitter buffer and the decoder.
// Creating a client (its processing module, codec mode, recorder rings and log) costs
// far more than an input runs, so it is kept, and each input starts from the state
// that the client's reset gives, which is enough because an input reaches only:
//  - the protocol fields, the request queue, the receive buffer and the log: reset
//    empties or zeroes them all;
//  - the audio counters, the audio gate, the jitter buffer, the decoder and the capture
//    and playback queues (through voice packets and poll steps): reset empties them,
//    keeping the device format;
//  - the voice key, the send nonce and sequence, and the two receive buffers' bytes
//    beyond their fill, which reset leaves alone (the next call's ANNOUNCE answer sets
//    the key and nonce anew): the target zeroes them, so that no input sees what an
//    earlier one left.
// The processing module is fed only by audioIO, which the target never calls: it holds
// no audio, and the reset leaves it as it is. What stays from input to input is then
// memory that an input cannot reach (the module, the codec mode, the recorders' rings,
// the log's storage), so a finding replays alone.
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
    static const std::unique_ptr<VoiceClient> client = [] {
        std::unique_ptr<VoiceClient> made = VoiceClient::create();
        check(made != nullptr && made->audioSetup(48000, 512, 1024) == 2);
        return made;
    }();
    client->reset();
    std::memset(client->m_voiceKey, 0, sizeof client->m_voiceKey);
    client->m_sendNonce = 0;
    client->m_sendSequence = 0;
    std::memset(client->m_receive, 0, sizeof client->m_receive);
    std::memset(client->m_datagram, 0, sizeof client->m_datagram);
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
