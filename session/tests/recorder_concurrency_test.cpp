// The recorder's ring between an audio thread and the threads that drain it, and the
// receive path, the poll loop and requests on one client at once. Run under
// ThreadSanitizer by the linux-tsan preset.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "session/voice_client.h"

namespace session {
namespace {

namespace fs = std::filesystem;

std::vector<int16_t> samplesIn(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::vector<int16_t> out(bytes.size() > 44 ? (bytes.size() - 44) / 2 : 0);
    std::memcpy(out.data(), bytes.data() + 44, out.size() * 2);
    return out;
}

// The audio thread pushes a counting pattern in device-sized blocks while the call
// thread drains; whatever the timing, the file holds the pattern in order, with
// silence only where the ring overflowed.
TEST(RecorderConcurrency, SamplesPushedByTheAudioThreadReachTheFileInOrder) {
    const fs::path path = fs::temp_directory_path() / "qel_recorder_concurrency.wav";
    WavRecorder recorder(1, 4096);
    ASSERT_TRUE(recorder.start(path.string().c_str(), 32000));
    constexpr int kBlocks = 90;  // 30,690 samples: the pattern never wraps
    constexpr int kFrames = 341;
    std::atomic<bool> done{false};
    std::thread drainer([&] {
        while (!done.load()) {
            recorder.drain();
            platform::sleepMs(1);
        }
    });
    std::thread audio([&] {
        std::vector<int16_t> block(kFrames);
        int16_t value = 1;
        for (int b = 0; b < kBlocks; ++b) {
            for (int16_t& s : block) {
                s = value++;
            }
            const int16_t* channels[] = {block.data()};
            recorder.push(channels, kFrames);
            std::this_thread::yield();
        }
    });
    audio.join();
    done = true;
    drainer.join();
    recorder.finish();

    const std::vector<int16_t> samples = samplesIn(path);
    ASSERT_EQ(samples.size(), static_cast<size_t>(kBlocks * kFrames));
    size_t silent = 0;
    int16_t last = 0;
    for (int16_t s : samples) {
        if (s == 0) {
            ++silent;
            continue;
        }
        ASSERT_GT(s, last);
        last = s;
    }
    EXPECT_EQ(silent, recorder.overrunFrames());
    fs::remove(path);
}

// Restarting a recording while the audio thread pushes: each file comes out whole, its
// header matching its length.
TEST(RecorderConcurrency, ARecordingRestartedDuringACallEndsCleanly) {
    const fs::path dir = fs::temp_directory_path() / "qel_recorder_restart";
    fs::create_directories(dir);
    WavRecorder recorder(2, 8192);
    std::atomic<bool> done{false};
    std::thread audio([&] {
        const int16_t block[256] = {3};
        const int16_t* channels[] = {block, block};
        while (!done.load()) {
            recorder.push(channels, 256);
            std::this_thread::yield();
        }
    });
    for (int i = 0; i < 20; ++i) {
        ASSERT_TRUE(recorder.start((dir / (std::to_string(i % 3) + ".wav")).string().c_str(), 48000));
        platform::sleepMs(2);
        recorder.drain();
    }
    recorder.finish();
    done = true;
    audio.join();
    for (int i = 0; i < 3; ++i) {
        const fs::path file = dir / (std::to_string(i) + ".wav");
        std::ifstream in(file, std::ios::binary);
        std::vector<char> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        ASSERT_GE(bytes.size(), 44u);
        uint32_t dataBytes = 0;
        std::memcpy(&dataBytes, bytes.data() + 40, 4);
        EXPECT_EQ(dataBytes + 44, bytes.size());
        EXPECT_EQ(dataBytes % 4, 0u);
    }
    fs::remove_all(dir);
}

// The call thread polls while another thread hands in received bytes and a control
// thread sends DTMF: every request is handed out exactly once.
TEST(SessionConcurrency, ReceivingPollingAndRequestsShareOneClient) {
    auto client = VoiceClient::create();
    ASSERT_NE(client, nullptr);
    client->m_token = 0x1234;
    client->enterState(E_QELCS_CONNECTED);
    std::atomic<bool> done{false};
    std::atomic<int> accepted{0};
    int sent = 0;
    std::thread call([&] {
        PollEvent event;
        while (!done.load() || client->requests().front() != nullptr) {
            if (client->poll(event) && event.code == E_QELEV_SEND_TCP && event.data[10] == E_QELPT_COMMAND) {
                ++sent;
            }
        }
    });
    std::thread network([&] {
        uint8_t packet[25] = {0x66, 0x15, 0x72, 0x57, 0x34, 0x12, 0, 0, 25, 0, E_QELPT_NETSTATE, 0};
        std::memcpy(packet + 16, "under5:1\n", 9);
        for (int i = 0; i < 300; ++i) {
            // Split in two, as TCP may deliver it.
            client->recvPacket(packet, 10, false);
            client->recvPacket(packet + 10, 15, false);
            platform::sleepMs(i % 2);
        }
    });
    std::thread control([&] {
        for (int i = 0; i < 200; ++i) {
            accepted += client->dtmf(static_cast<uint8_t>(i % 16));
            platform::sleepMs(1);
        }
    });
    network.join();
    control.join();
    done = true;
    call.join();
    EXPECT_GT(accepted.load(), 0);
    EXPECT_EQ(sent, accepted.load());
    EXPECT_EQ(client->m_receiveFill, 0);
}

}  // namespace
}  // namespace session
