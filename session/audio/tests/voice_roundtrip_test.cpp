// Voice end to end: capture, processing, encoder, cipher, jitter buffer, decoder,
// playback; with packets in order, reordered and lost.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "audio_test_support.h"
#include "session/audio/audio_tap.h"
#include "session/audio/voice_codec.h"

namespace {

constexpr int kRate = 48000;
constexpr int kFrames = 512;

void prepare(qel::VoiceAudio& a, bool processing) {
    a.reset();
    a.cipher().rekey(qeltest::testKey());
    ASSERT_EQ(a.audioSetup(kRate, kFrames, 0), 2);
    if (!processing) {
        a.setFlag(1, false);
        a.setFlag(2, false);
        a.setFlag(3, false);
    }
}

// The sender's payloads, grouped by the device buffer after which they were ready.
std::vector<std::vector<std::vector<uint8_t>>> encodeAll(const std::vector<float>& signal) {
    qeltest::RecordingLog log;
    qel::VoiceAudio sender(log);
    prepare(sender, false);
    sender.setLastVoiceReceive(1);
    std::vector<std::vector<std::vector<uint8_t>>> byBuffer;
    for (size_t pos = 0; pos + kFrames <= signal.size(); pos += kFrames) {
        qeltest::runBuffer(sender, signal.data() + pos, kFrames, nullptr);
        byBuffer.push_back(qeltest::takePayloads(sender));
    }
    return byBuffer;
}

struct Received {
    std::vector<float> played;
    int underruns = 0;
    int silentBuffers = 0;
};

// Stretches of at least 1 ms of exact zeros after the first sound: what a listener
// hears as holes (concealment and decoded speech are never exactly zero for that long).
int digitalSilences(const std::vector<float>& played) {
    const size_t minimum = kRate / 1000;
    size_t i = 0;
    while (i < played.size() && played[i] == 0.0f) {
        ++i;
    }
    int stretches = 0;
    size_t run = 0;
    for (; i < played.size(); ++i) {
        run = played[i] == 0.0f ? run + 1 : 0;
        stretches += run == minimum ? 1 : 0;
    }
    return stretches;
}

// Plays the payloads through a receiver, one device buffer per sender buffer.
Received playAll(const std::vector<std::vector<std::vector<uint8_t>>>& byBuffer) {
    qeltest::RecordingLog log;
    qel::VoiceAudio receiver(log);
    prepare(receiver, false);
    Received r;
    for (const auto& payloads : byBuffer) {
        for (auto p : payloads) {
            receiver.onAudioPacket(p.data(), static_cast<int32_t>(p.size()), 1);
        }
        std::vector<float> out;
        qeltest::runBuffer(receiver, nullptr, kFrames, &out);
        bool silent = true;
        for (float s : out) {
            silent = silent && s == 0.0f;
        }
        r.silentBuffers += silent ? 1 : 0;
        r.played.insert(r.played.end(), out.begin(), out.end());
    }
    r.underruns = log.count("Network underrun");
    return r;
}

// The codec (CELT in a 640-sample custom mode) keeps each band's energy and the
// shape of the sound but not the exact waveform of a mixture, so the comparison is
// made on what a listener hears: the 10-ms loudness envelope for speech, the level
// of each tone for the tone mixture.
std::vector<double> envelope(const std::vector<float>& v, size_t start, size_t blocks) {
    const size_t hop = kRate / 100;
    std::vector<double> env(blocks, 0.0);
    for (size_t b = 0; b < blocks && start + (b + 1) * hop <= v.size(); ++b) {
        env[b] = std::sqrt(qeltest::energy(v, start + b * hop, start + (b + 1) * hop) / hop);
    }
    return env;
}

double pearson(const std::vector<double>& a, const std::vector<double>& b) {
    double sa = 0, sb = 0, saa = 0, sbb = 0, sab = 0;
    const double n = static_cast<double>(a.size());
    for (size_t i = 0; i < a.size(); ++i) {
        sa += a[i], sb += b[i], saa += a[i] * a[i], sbb += b[i] * b[i], sab += a[i] * b[i];
    }
    const double va = saa - sa * sa / n, vb = sbb - sb * sb / n;
    return va > 0 && vb > 0 ? (sab - sa * sb / n) / std::sqrt(va * vb) : 0.0;
}

// Envelope correlation of speech, taken over 0.5-s windows from 1 s to 4.5 s, each
// after its own best delay (1-ms steps, up to 200 ms): the jitter buffer may move
// the playout point by a frame when it adapts its delay. Returns the mean over the
// windows and the largest delay seen.
double envelopeCorrelation(const std::vector<float>& sent, const Received& r, size_t& lag) {
    const size_t blocks = 50;
    double sum = 0.0;
    int windows = 0;
    lag = 0;
    for (size_t start = kRate; start + kRate / 2 <= kRate * 9 / 2; start += kRate / 2) {
        const auto reference = envelope(sent, start, blocks);
        double best = -2.0;
        size_t bestLag = 0;
        for (size_t d = 0; d <= kRate / 5; d += kRate / 1000) {
            if (start + d + blocks * (kRate / 100) > r.played.size()) {
                break;
            }
            const double c = pearson(reference, envelope(r.played, start + d, blocks));
            if (c > best) {
                best = c;
                bestLag = d;
            }
        }
        std::printf("  window at %.1f s: %.3f at %zu\n", static_cast<double>(start) / kRate, best, bestLag);
        sum += best;
        ++windows;
        lag = std::max(lag, bestLag);
    }
    return sum / windows;
}

// The codec alone, frame by frame: no decoded frame may be much louder than what was
// encoded around it. With the encoder at complexity 4 this failed on one speech frame
// in six (full-scale bursts, a fault of the codec library in this custom mode).
TEST(VoiceRoundTrip, CodecNeverTurnsSpeechIntoBursts) {
    int bad = 0;
    int frames = 0;
    for (uint32_t seed = 1; seed <= 8; ++seed) {
        qel::VoiceCodec codec;
        codec.reset();
        const auto speech = qeltest::speechLike(32000, 4.0, seed);
        double previous = 0.0;
        for (size_t at = 0; at + 640 <= speech.size(); at += 640, ++frames) {
            int16_t pcm[640];
            int16_t decoded[640];
            uint8_t packet[1000];
            double in = 0.0, out = 0.0;
            for (int i = 0; i < 640; ++i) {
                pcm[i] = static_cast<int16_t>(std::lrint(speech[at + i] * 32767.0f));
                in += static_cast<double>(pcm[i]) * pcm[i];
            }
            const int bytes = codec.encode(pcm, packet, sizeof packet);
            ASSERT_GT(bytes, 0);
            ASSERT_TRUE(codec.decode(packet, bytes, decoded));
            for (int16_t s : decoded) {
                out += static_cast<double>(s) * s;
            }
            in = std::sqrt(in / 640) / 32768.0;
            out = std::sqrt(out / 640) / 32768.0;
            if (out > 2.0 * std::max(in, previous) + 0.02) {
                std::printf("seed %u, frame at %.2f s: rms %.3f in, %.3f out\n", seed, at / 32000.0, in, out);
                ++bad;
            }
            previous = in;
        }
    }
    EXPECT_EQ(bad, 0) << "of " << frames << " frames";
}

TEST(VoiceRoundTrip, MultiToneComesBackWithEveryToneAtItsLevel) {
    const auto signal = qeltest::multiTone(kRate, 5.0);
    const Received r = playAll(encodeAll(signal));
    const size_t start = 2 * kRate;
    const size_t n = kRate;  // 1 s: tones fall on whole bins
    const double total = qeltest::energy(r.played, start, start + n) / n;
    double inTones = 0.0;
    for (double f : qeltest::kToneFrequencies) {
        const double sent = qeltest::tonePower(signal, kRate, start, n, f);
        const double got = qeltest::tonePower(r.played, kRate, start, n, f);
        const double db = 10.0 * std::log10(got / sent);
        std::printf("tone %.0f Hz: %.2f dB after the round trip\n", f, db);
        EXPECT_NEAR(db, 0.0, 1.5) << f;
        inTones += got / 2.0;  // mean power of a sine is half its peak power
    }
    std::printf("share of the output's power in the four tones: %.4f\n", inTones / total);
    EXPECT_GT(inTones / total, 0.95);
}

// Speech comes back with its loudness envelope and at one steady delay. (This is the
// test that found the codec's bursts: at complexity 4 some windows fell to 0.14.)
TEST(VoiceRoundTrip, SpeechComesBackWithHighEnvelopeCorrelation) {
    const auto signal = qeltest::speechLike(kRate, 5.0, 11);
    const Received r = playAll(encodeAll(signal));
    size_t lag = 0;
    const double c = envelopeCorrelation(signal, r, lag);
    std::printf("speech-like: envelope correlation %.4f at a delay of %zu samples (%.1f ms)\n", c,
                lag, lag * 1000.0 / kRate);
    EXPECT_GT(c, 0.95);
    EXPECT_LT(lag, static_cast<size_t>(kRate / 10));  // well under 100 ms end to end
    // Once the first frame has arrived, an in-order stream hardly runs dry.
    EXPECT_LE(r.underruns, 3);
}

TEST(VoiceRoundTrip, JitterBufferPutsShuffledPacketsBackInOrder) {
    const auto signal = qeltest::speechLike(kRate, 5.0, 12);
    const auto inOrder = encodeAll(signal);
    // Swap every other pair of consecutive payloads (both still arrive within the
    // buffer's margin).
    std::vector<std::vector<uint8_t>> flat;
    std::vector<size_t> counts;
    for (const auto& group : inOrder) {
        counts.push_back(group.size());
        flat.insert(flat.end(), group.begin(), group.end());
    }
    for (size_t i = 10; i + 1 < flat.size(); i += 4) {
        std::swap(flat[i], flat[i + 1]);
    }
    std::vector<std::vector<std::vector<uint8_t>>> shuffled;
    size_t next = 0;
    for (size_t n : counts) {
        shuffled.emplace_back(flat.begin() + static_cast<long>(next),
                              flat.begin() + static_cast<long>(next + n));
        next += n;
    }
    const Received a = playAll(inOrder);
    const Received b = playAll(shuffled);
    // Put back in order, the shuffled stream plays the same samples as the ordered
    // one (at most a frame later, as the buffer may wait for the late packet).
    double best = 0.0;
    const size_t lag = qeltest::alignByCorrelation(a.played, b.played, kRate, kRate * 3, 2000, best);
    std::printf("shuffled against in order: correlation %.5f at %zu samples, underruns %d / %d\n",
                best, lag, b.underruns, a.underruns);
    EXPECT_GT(best, 0.999);
    EXPECT_LE(lag, 960u);
    EXPECT_LE(b.underruns, a.underruns + 2);
}

TEST(VoiceRoundTrip, LostPacketsAreConcealedWithoutHoles) {
    const auto signal = qeltest::speechLike(kRate, 5.0, 13);
    auto byBuffer = encodeAll(signal);
    const uint32_t seed = 1913;
    std::mt19937 rng(seed);
    std::bernoulli_distribution loss(0.10);
    int lost = 0;
    int index = 0;
    for (auto& group : byBuffer) {
        for (auto it = group.begin(); it != group.end(); ++index) {
            if (index >= 5 && loss(rng)) {  // random, after the start
                it = group.erase(it);
                ++lost;
            } else {
                ++it;
            }
        }
    }
    const Received r = playAll(byBuffer);
    const int holes = digitalSilences(r.played);
    std::printf("seed %u: %d of %d packets lost: %d underruns, %d silent buffers, %d holes\n", seed,
                lost, index, r.underruns, r.silentBuffers, holes);
    // Each loss is one missing get: the decoder conceals the frame, what was received
    // plays in full, and the stream resumes with the next packet instead of stalling.
    EXPECT_GE(r.underruns, lost - 2);
    EXPECT_LE(r.underruns, lost + 4);
    EXPECT_EQ(holes, 0);
    const double heard = qeltest::energy(r.played, kRate, r.played.size());
    const double sent = qeltest::energy(signal, kRate, signal.size());
    EXPECT_GT(heard, 0.7 * sent);
}

// Quiet speech (-25 dBFS) as a call sends it, every processing stage on: the gain
// control raises it, and must leave the codec room above its peaks. The decoder
// saturates whatever the codec's overshoot carries past full scale, and a far end then
// hears runs of samples flat at full scale.
class ProcessedCapture final : public qel::AudioTap {
  public:
    void deviceAudio(const int16_t*, const int16_t*, int) noexcept override {}
    void processedAudio(const int16_t* samples, int count) noexcept override {
        for (int i = 0; i < count; ++i) {
            const int magnitude = std::abs(static_cast<int>(samples[i]));
            peak = std::max(peak, magnitude);
            run = magnitude >= 32767 ? run + 1 : 0;
            flatRuns += run == 2 ? 1 : 0;
        }
    }
    int peak = 0;
    int run = 0;
    int flatRuns = 0;  // before the codec: what the gain control itself flattened
};

TEST(VoiceRoundTrip, GainControlLeavesTheCodecRoomAboveQuietSpeech) {
    auto signal = qeltest::speechLike(kRate, 12.0, 21);
    const double rms =
        std::sqrt(qeltest::energy(signal, 0, signal.size()) / static_cast<double>(signal.size()));
    const auto gain = static_cast<float>(std::pow(10.0, -25.0 / 20.0) / rms);
    for (float& v : signal) {
        v *= gain;
    }
    qeltest::RecordingLog log;
    qel::VoiceAudio sender(log);
    prepare(sender, true);
    sender.setFlag(1, false);  // no far end: nothing to cancel
    ProcessedCapture tap;
    sender.setTap(&tap);
    sender.setLastVoiceReceive(1);
    std::vector<std::vector<std::vector<uint8_t>>> byBuffer;
    for (size_t pos = 0; pos + kFrames <= signal.size(); pos += kFrames) {
        qeltest::runBuffer(sender, signal.data() + pos, kFrames, nullptr);
        byBuffer.push_back(qeltest::takePayloads(sender));
    }
    sender.setTap(nullptr);
    const Received r = playAll(byBuffer);
    int flatRuns = 0;
    size_t run = 0;
    for (float v : r.played) {
        run = std::fabs(v) >= 32767.0f / 32768.0f ? run + 1 : 0;
        flatRuns += run == 2 ? 1 : 0;
    }
    // Loudness of the speech heard once the gain control has settled (after 4 s).
    const size_t settled = static_cast<size_t>(4 * kRate);
    const double heard = qeltest::energy(r.played, settled, r.played.size()) /
                         static_cast<double>(r.played.size() - settled);
    const double heardDb = 10 * std::log10(heard);
    std::printf(
        "processed: peak %.2f dBFS, %d flat full-scale runs; heard: %.1f dBFS RMS, %d flat "
        "full-scale runs\n",
        20 * std::log10(tap.peak / 32768.0), tap.flatRuns, heardDb, flatRuns);
    EXPECT_LE(tap.peak, 30935);  // -0.5 dBFS: room for the codec
    EXPECT_EQ(flatRuns, 0);
    EXPECT_GT(heardDb, -20.0);  // still raised well above what was said
}

}  // namespace
