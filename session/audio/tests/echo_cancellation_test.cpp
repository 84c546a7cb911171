// The echo canceller on a real signal: far-end speech is played, comes back into the
// capture delayed and attenuated, and the processed capture is measured with the
// canceller on and off.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <deque>
#include <vector>

#include "audio_test_support.h"

namespace {

struct EchoRun {
    double processedEnergy = 0.0;  // processed capture over the measured tail
    double inputEnergy = 0.0;      // echo at the capture input over the same span
};

// 10 s of far-end speech through a 48 kHz / 512-frame device whose microphone hears
// the loudspeaker `echoDelay` samples later at `echoGain`.
EchoRun runEcho(bool echoCancellation, int echoDelay, float echoGain) {
    qeltest::RecordingLog log;
    qel::VoiceAudio far(log);
    qel::VoiceAudio near(log);
    far.reset();
    near.reset();
    far.cipher().rekey(qeltest::testKey());
    near.cipher().rekey(qeltest::testKey());
    EXPECT_EQ(far.audioSetup(48000, 512, 0), 2);
    // The device reports the echo path's delay as its latency.
    EXPECT_EQ(near.audioSetup(48000, 512, echoDelay), 2);
    far.setFlag(2, false);
    far.setFlag(3, false);
    far.setLastVoiceReceive(1);
    // Measure the canceller alone: no gain control, no noise suppression.
    near.setFlag(1, echoCancellation);
    near.setFlag(2, false);
    near.setFlag(3, false);

    const int rate = 48000;
    const auto speech = qeltest::speechLike(rate, 10.0, 7);
    std::deque<float> air(static_cast<size_t>(echoDelay), 0.0f);  // loudspeaker to microphone
    std::vector<float> mic(512);
    std::vector<float> played;
    EchoRun run;
    const size_t measureFrom = static_cast<size_t>(rate) * 5;  // after convergence
    std::vector<float> processed;
    for (size_t pos = 0; pos + 512 <= speech.size(); pos += 512) {
        qeltest::runBuffer(far, speech.data() + pos, 512, nullptr);
        qeltest::relayFrames(far, near);
        for (int k = 0; k < 512; ++k) {
            mic[static_cast<size_t>(k)] = air.front();
            air.pop_front();
        }
        played.clear();
        qeltest::runBuffer(near, mic.data(), 512, &played);
        for (float s : played) {
            air.push_back(s * echoGain);
        }
        if (pos >= measureFrom) {
            run.inputEnergy += qeltest::energy(mic, 0, mic.size()) * 2.0 / 3.0;  // per 32 kHz sample
        }
        // Take the processed capture out frame by frame, as the encoder step would.
        const auto& fifo = near.path().captureFifo();
        while (fifo.done() >= 640) {
            if (pos >= measureFrom) {
                for (int i = 0; i < 640; ++i) {
                    const double v = fifo.data()[i] / 32768.0;
                    run.processedEnergy += v * v;
                }
            }
            uint8_t out[1000];
            near.encodeStep(out);
        }
    }
    return run;
}

TEST(EchoCancellation, ReducesADelayedAttenuatedEchoAfterConvergence) {
    const int delay = 1200;  // 25 ms of acoustic path behind the device buffer
    const float gain = 0.5f;
    const EchoRun off = runEcho(false, delay, gain);
    const EchoRun on = runEcho(true, delay, gain);
    ASSERT_GT(off.inputEnergy, 0.0);
    ASSERT_GT(off.processedEnergy, 0.0);
    const double reductionDb = 10.0 * std::log10(off.processedEnergy / std::max(on.processedEnergy, 1e-12));
    std::printf("echo at the input %.2f, processed without canceller %.2f, with canceller %.4f: "
                "%.1f dB of echo reduction\n",
                off.inputEnergy, off.processedEnergy, on.processedEnergy, reductionDb);
    // Without the canceller the echo passes (only the high-pass filter touches it).
    EXPECT_GT(off.processedEnergy, off.inputEnergy * 0.5);
    // With it, a converged canceller with its suppressor takes the echo down by far
    // more than 20 dB on a clean, linear echo path like this one.
    EXPECT_GT(reductionDb, 20.0);
}

}  // namespace
