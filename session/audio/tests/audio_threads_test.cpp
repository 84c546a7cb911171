// The three threads of a call on one client's audio: the device callback, the call
// thread (encoder and receive steps), and a control thread switching flags.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "audio_test_support.h"
#include "platform/clock.h"

namespace {

TEST(AudioThreads, CallbackCallThreadAndControlThreadShareThePath) {
    qeltest::RecordingLog farLog;
    qeltest::RecordingLog nearLog;
    qel::VoiceAudio far(farLog);
    qel::VoiceAudio near(nearLog);
    for (qel::VoiceAudio* a : {&far, &near}) {
        a->reset();
        a->cipher().rekey(qeltest::testKey());
        ASSERT_EQ(a->audioSetup(48000, 512, 0), 2);
    }
    far.setLastVoiceReceive(1);
    const auto signal = qeltest::speechLike(48000, 2.0, 5);

    std::atomic<bool> stop{false};
    std::atomic<int> callbacks{0};
    // Device callback of the near end, about every 5 ms (twice real time).
    std::thread audio([&] {
        std::vector<float> out(512);
        size_t pos = 0;
        while (!stop.load()) {
            const float* inputs[1] = {signal.data() + pos};
            float* outputs[1] = {out.data()};
            near.audioIO(inputs, 1, 1.0f, outputs, 1, 1.0f);
            pos = (pos + 512) % (signal.size() - 512);
            callbacks.fetch_add(1);
            platform::sleepMs(5);
        }
    });
    std::thread control([&] {
        for (int i = 0; !stop.load(); ++i) {
            near.setFlag(1 + i % 3, i % 2 == 0);
            (void)near.getFlag(1 + i % 3);
            platform::sleepMs(7);
        }
    });
    // The call thread: far audio arrives, near frames are encoded.
    const uint32_t start = platform::nowMs();
    int sent = 0;
    size_t pos = 0;
    while (platform::nowMs() - start < 1500) {
        qeltest::runBuffer(far, signal.data() + pos, 512, nullptr);
        pos = (pos + 512) % (signal.size() - 512);
        qeltest::relayFrames(far, near, platform::nowMs());
        uint8_t payload[1008];
        while (qeltest::sealFrame(near, payload) > 0) {
            ++sent;
        }
        platform::sleepMs(5);
    }
    stop.store(true);
    audio.join();
    control.join();
    EXPECT_GT(callbacks.load(), 100);
    EXPECT_GT(sent, 50);
    const auto& c = near.path().captureFifo();
    EXPECT_LE(c.done(), c.count());
    // Lock waits are short here: nothing holds the path for milliseconds.
    EXPECT_EQ(near.skippedBuffers(), 0u);
}

}  // namespace
