// Fuzz target for the server's packet handling: arbitrary bytes arrive over TCP (in
// pieces) and UDP on a session that has announced, under every server option. Checks
// that every packet the server sends is well formed and that nothing reads out of
// bounds or crashes.
//
// Input: one options byte, then chunks of [control byte][length byte][bytes]. Control
// bit 0: UDP instead of TCP; bit 1: write the session's token into the chunk's header;
// bits 2-3: how far the clock moves before the chunk (0, 20, 1000, 6000 ms); bit 4: the
// second of two sessions (each on its own TCP connection and UDP port), so that a
// conference has someone to mix for.
//
// Each input gets a server core of its own: everything in the core (sessions,
// connections, the conference room, the impairment queue, the random sequence) is
// reachable from the input, and a core is cheap to make. What is dear is the
// participants' codecs, an Opus mode with its tables and an encoder and decoder each,
// made for every echo or conference session an input starts. They come from a pool that
// lives across inputs: a codec taken from it is re-keyed and reset to the state a new
// one starts in, so no input can see what an earlier one did with it, and a finding
// replays alone.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "session/packet.h"
#include "tools/qel-server/server_core.h"
#include "tools/qel-server/voice_channels.h"

using namespace qelserver;
using namespace session;

namespace {

void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

void checkOutput(ServerCore& core) {
    for (const Outgoing& out : core.takeOutput()) {
        check(out.bytes.size() >= kHeaderSize);
        const PacketHeader h = readHeader(out.bytes.data());
        check(h.magic == kPacketMagic);
        check(h.len == out.bytes.size());
        check(h.type >= 1 && h.type <= kLastPacketType);
        check(h.status <= kLastPacketStatus);
        check(h.token != 0);
        if (h.type != E_QELPT_RTP) {
            check(h.len <= kMaxControlPacket);
        }
    }
    core.takeClosures();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    ServerOptions options;
    options.seed = 1;
    const uint8_t flags = data[0];
    options.ignoreUdp = flags & 1;
    options.noPingAnswer = flags & 2;
    if (flags & 4) {
        options.impairment.lossPercent = 20;
        options.impairment.jitterMs = 25;
        options.impairment.reorderPercent = 10;
    }
    options.disconnectAfterMs = (flags & 8) ? 3000 : 0;
    options.refusal = static_cast<AnnounceRefusal>((flags >> 4) % 6);
    options.netstateIntervalMs = 1000;

    static VoiceChannelPool channels;
    ServerCore core(options, UdpEndpoint{0x7F000001u, 9}, nullptr, channels.factory());
    uint64_t now = 1;
    uint32_t tokens[2] = {};
    for (ConnId c = 1; c <= 2; ++c) {
        core.tcpOpened(c, now);
        PacketBuilder hello;
        initPacket(hello, 0, E_QELPT_ANNOUNCE);
        core.tcpData(c, hello.data(), hello.size(), now);
        const std::vector<Outgoing> answer = core.takeOutput();
        check(answer.size() == 1);
        tokens[c - 1] = readHeader(answer[0].bytes.data()).token;
    }

    static const uint64_t kSteps[] = {0, 20, 1000, 6000};
    size_t offset = 1;
    std::vector<uint8_t> chunk;
    while (offset + 2 <= size) {
        const uint8_t control = data[offset];
        const size_t length = std::min<size_t>(data[offset + 1], size - offset - 2);
        // An exact-size copy, so that reading past the chunk is caught.
        chunk.assign(data + offset + 2, data + offset + 2 + length);
        offset += 2 + length;
        const int who = (control >> 4) & 1;
        if ((control & 2) && chunk.size() >= 8) {
            std::memcpy(chunk.data() + 4, &tokens[who], 4);  // the header is little-endian
        }
        now += kSteps[(control >> 2) & 3];
        core.tick(now);
        checkOutput(core);
        if (control & 1) {
            const uint16_t port = static_cast<uint16_t>(7 + who);
            core.udpData(UdpEndpoint{0x7F000001u, port}, chunk.data(), chunk.size(), now);
        } else {
            core.tcpData(static_cast<ConnId>(1 + who), chunk.data(), chunk.size(), now);
        }
        checkOutput(core);
    }
    core.tick(now + 10000);
    checkOutput(core);
    return 0;
}
