// A call between two clients on the threads the voice engine uses: each client's
// device callback calls audioIO on an audio thread of its own, one call thread polls
// both clients and carries their packets across, and a control thread switches the
// processing flags and drains the logs. The recorders run throughout, so their rings
// are pushed on the audio threads while the poll loop writes the files.
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "platform/clock.h"
#include "session/audio/tests/audio_test_support.h"
#include "session/tests/voice_call_support.h"

namespace session::testing {
namespace {

constexpr int kRate = 48000;
constexpr int kFrames = 512;

TEST(VoiceCallThreads, AudioThreadsCallThreadAndControlThreadShareTwoClients) {
    auto a = connectedClient(kKey, false);
    auto b = connectedClient(kKey, false);
    const auto dir = std::filesystem::temp_directory_path();
    const std::string files[2] = {(dir / "voice_threads_a.wav").string(), (dir / "voice_threads_b.wav").string()};
    ASSERT_TRUE(a->record(files[0].c_str()));
    ASSERT_TRUE(b->recordpost(files[1].c_str()));
    // The server's first packet opens a's gate; from then on the two hear each other.
    openAudioGate(*a);

    const auto signal = qeltest::speechLike(kRate, 2.0, 21);
    std::atomic<bool> stop{false};
    std::atomic<int> heard{0};
    auto device = [&](VoiceClient& client) {
        std::vector<float> out(kFrames);
        size_t pos = 0;
        while (!stop.load()) {
            const float* inputs[1] = {signal.data() + pos};
            float* outputs[1] = {out.data()};
            EXPECT_TRUE(client.audioIO(inputs, 1, 1.0f, outputs, 1, 1.0f));
            for (float s : out) {
                if (s != 0.0f) {
                    heard.fetch_add(1, std::memory_order_relaxed);
                    break;
                }
            }
            pos = (pos + kFrames) % (signal.size() - kFrames);
            platform::sleepMs(10);
        }
    };
    std::thread audioA(device, std::ref(*a));
    std::thread audioB(device, std::ref(*b));
    std::thread control([&] {
        for (int i = 0; !stop.load(); ++i) {
            VoiceClient& c = i % 2 == 0 ? *a : *b;
            c.setAudioFlag(1 + i % 3, i % 4 < 2);
            (void)c.getAudioFlag(1 + i % 3);
            (void)c.active();
            platform::sleepMs(3);
        }
    });

    // The call thread: both poll loops, each packet handed straight to the other end.
    int crossed = 0;
    const uint32_t start = platform::nowMs();
    while (platform::nowMs() - start < 1500) {
        for (auto [from, to] : {std::pair{a.get(), b.get()}, std::pair{b.get(), a.get()}}) {
            PollEvent event;
            while (from->poll(event)) {
                if (event.code == E_QELEV_SEND_UDP) {
                    to->recvPacket(event.data, static_cast<size_t>(event.length), true);
                    ++crossed;
                }
            }
        }
        messages(*a);
        messages(*b);
    }
    stop.store(true);
    audioA.join();
    audioB.join();
    control.join();
    EXPECT_TRUE(a->disconnect());
    EXPECT_TRUE(b->disconnect());

    // 1.5 s is 75 frames each way at the device's pace; the ticks wait 20 ms apiece.
    EXPECT_GT(crossed, 80);
    EXPECT_GT(heard.load(), 60);
    for (const std::string& file : files) {
        EXPECT_GT(std::filesystem::file_size(file), 44u + 20000u) << file;
        std::filesystem::remove(file);
    }
}

// A device whose rate changes mid-call (a headset unplugged, the default device at
// another rate) while the far end talks: the caller's reader thread keeps handing
// datagrams in while the new format replaces the jitter buffer and its packet pool.
// The sanitizer builds see any overlap.
TEST(VoiceCallThreads, FormatChangesBesideAReaderThreadAtFullSpeed) {
    auto client = connectedClient(kKey, false);
    client->log().setLevel(3);
    std::atomic<bool> stop{false};
    std::atomic<int> handed{0};
    std::thread reader([&] {
        // Voice packets with rising sequence numbers (the frames are noise to the
        // decoder, which this test never reaches), now and then one that goes back in
        // time, so that the jitter buffer also declines and discards packets.
        for (uint32_t sequence = 1; !stop.load(std::memory_order_relaxed); ++sequence) {
            const uint32_t stamped = sequence % 97 == 0 ? sequence - 300 : sequence;
            std::string payload(8 + 40, '\x5a');
            for (int i = 0; i < 4; ++i) {
                payload[4 + i] = static_cast<char>((stamped >> (8 * i)) & 0xFF);
            }
            const auto packet = serverPacket(E_QELPT_RTP, E_QELPS_NONE, payload);
            client->recvPacket(packet.data(), packet.size(), true);
            handed.fetch_add(1, std::memory_order_relaxed);
        }
    });
    int changes = 0;
    const uint32_t start = platform::nowMs();
    while (platform::nowMs() - start < 1500 || handed.load() < 2000) {
        const int32_t rate = changes % 2 == 0 ? 44100 : 48000;
        ASSERT_EQ(client->audioSetup(rate, 512, 960), 2);
        ++changes;
    }
    stop.store(true);
    reader.join();
    std::printf("%d format changes beside %d datagrams\n", changes, handed.load());
    EXPECT_GT(changes, 100);
    (void)messages(*client);
    EXPECT_TRUE(client->disconnect());
}

}  // namespace
}  // namespace session::testing
