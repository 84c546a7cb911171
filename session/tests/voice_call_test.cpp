// A call between two real clients on one clock: the talker's device buffers go
// through audioIO, its poll ticks hand out enciphered voice packets, the listener's
// recvPacket queues them and its audioIO plays them. Everything the caller would do,
// nothing of the pipeline replaced.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#include "session/audio/tests/audio_test_support.h"
#include "session/tests/voice_call_support.h"

namespace session::testing {
namespace {

constexpr int kRate = 48000;
constexpr int kFrames = 512;
constexpr int kTickSamples = kRate / 50;  // one poll tick at the device rate

struct Call {
    std::vector<float> played;  // the listener's first output channel
    int packets = 0;            // voice packets from talker to listener
    std::vector<std::string> listenerLog;
};

// Holds the talker's packets to the listener from `fromMs` into the call for `ms`, and
// hands them all over at its end, as a link that stalls does.
struct Stall {
    uint32_t fromMs = 0;
    uint32_t ms = 0;
};

// Polls `from` until it has nothing more this tick, delivering its voice packets to
// `to`, or keeping them in `held` when it is given. Returns the number sent.
int deliver(VoiceClient& from, VoiceClient& to, std::vector<std::vector<uint8_t>>* held = nullptr) {
    int n = 0;
    PollEvent event;
    while (from.poll(event)) {
        EXPECT_EQ(event.code, E_QELEV_SEND_UDP);
        EXPECT_EQ(event.data[10], E_QELPT_RTP);
        if (held != nullptr) {
            held->emplace_back(event.data, event.data + event.length);
        } else {
            to.recvPacket(event.data, static_cast<size_t>(event.length), true);
        }
        ++n;
    }
    return n;
}

// `signal` spoken into the talker; both ends run their device buffers and poll ticks
// on the shared clock. The talker hears the listener too (it is a two-way call), and
// the server's first packet opens the talker's audio gate. From sample `awayFrom` to
// `awayTo` the listener's device is gone (no device buffers, silence heard) while its
// packets keep arriving.
Call runCall(const std::vector<float>& signal, VoiceClient& talker, VoiceClient& listener,
             Stall stall = {}, size_t awayFrom = 0, size_t awayTo = 0) {
    Call call;
    const uint32_t start = FakeClock::now;
    openAudioGate(talker);

    std::vector<float> silence(kFrames, 0.0f), discard(kFrames), out(kFrames), out2(kFrames);
    std::vector<std::vector<uint8_t>> held;
    int tick = 0;
    for (size_t at = 0; at + kFrames <= signal.size(); at += kFrames) {
        for (; static_cast<size_t>(tick) * kTickSamples <= at; ++tick) {
            const uint32_t callMs = static_cast<uint32_t>(tick) * 20;
            FakeClock::now = start + callMs;
            const bool stalled = callMs >= stall.fromMs && callMs < stall.fromMs + stall.ms;
            if (!stalled) {
                for (const auto& packet : held) {
                    listener.recvPacket(packet.data(), packet.size(), true);
                }
                held.clear();
            }
            call.packets += deliver(talker, listener, stalled ? &held : nullptr);
            deliver(listener, talker);
        }
        const float* talkerIn[1] = {signal.data() + at};
        float* talkerOut[1] = {discard.data()};
        EXPECT_TRUE(talker.audioIO(talkerIn, 1, 1.0f, talkerOut, 1, 1.0f));
        if (at >= awayFrom && at < awayTo) {
            call.played.insert(call.played.end(), silence.begin(), silence.end());
            continue;
        }
        const float* listenerIn[2] = {nullptr, silence.data()};
        float* listenerOut[2] = {out.data(), out2.data()};
        EXPECT_TRUE(listener.audioIO(listenerIn, 2, 1.0f, listenerOut, 2, 1.0f));
        EXPECT_EQ(out, out2);
        call.played.insert(call.played.end(), out.begin(), out.end());
    }
    for (auto lines = messages(listener); !lines.empty(); lines = messages(listener)) {
        call.listenerLog.insert(call.listenerLog.end(), lines.begin(), lines.end());
    }
    return call;
}

class VoiceCallTest : public ::testing::Test {
protected:
    void SetUp() override { FakeClock::now = 500000; }

    // The talker's processing (echo canceller, gain control, noise suppressor) off, so
    // the levels that arrive are the levels spoken: the noise suppressor would take
    // steady tones for noise, and the gain control would move every level.
    static void plainTalker(VoiceClient& talker) {
        for (int flag = 1; flag <= 3; ++flag) {
            EXPECT_TRUE(talker.setAudioFlag(flag, false));
            EXPECT_EQ(talker.getAudioFlag(flag), 0);
        }
    }
};

TEST_F(VoiceCallTest, MultiToneCrossesFromOneClientToTheOtherAtItsLevels) {
    auto talker = connectedClient(kKey, true);
    auto listener = connectedClient(kKey, true);
    plainTalker(*talker);
    const auto signal = qeltest::multiTone(kRate, 4.0);
    const Call call = runCall(signal, *talker, *listener);

    // 4 s is 200 frames; the pipeline holds a few back.
    std::printf("%d voice packets crossed\n", call.packets);
    EXPECT_GE(call.packets, 195);
    EXPECT_LE(call.packets, 200);

    const size_t from = 2 * kRate;
    const size_t n = kRate;  // 1 s: the tones fall on whole bins
    for (double f : qeltest::kToneFrequencies) {
        const double db = 10.0 * std::log10(qeltest::tonePower(call.played, kRate, from, n, f) /
                                            qeltest::tonePower(signal, kRate, from, n, f));
        std::printf("tone %.0f Hz: %+.2f dB at the listener\n", f, db);
        EXPECT_NEAR(db, 0.0, 1.5) << f;
    }
    // The waveform itself arrives, within the delay the click test below measures (the
    // tones repeat, so a longer search could settle on a later period of them).
    double best = 0.0;
    const size_t lag =
        qeltest::alignByCorrelation(signal, call.played, from, kRate / 4, kRate * 15 / 100, best);
    std::printf("waveform correlation %.4f after a delay of %zu samples (%.1f ms)\n", best, lag,
                lag * 1000.0 / kRate);
    EXPECT_GT(best, 0.9);

    // The listener's statistics line, every 50 received packets.
    int lines = 0;
    for (const std::string& line : call.listenerLog) {
        lines += line.rfind("jb=", 0) == 0 ? 1 : 0;
    }
    EXPECT_EQ(lines, call.packets / 50);
}

// The fault the cipher must not have: a listener keyed differently hears noise, not
// the talker. (Both directions share one keystream definition, so a cipher that did
// nothing would pass the test above.)
TEST_F(VoiceCallTest, ClicksArriveAfterOneSteadyDelayUnder150Ms) {
    auto talker = connectedClient(kKey, true);
    auto listener = connectedClient(kKey, true);
    plainTalker(*talker);
    std::vector<float> signal(kRate * 4, 0.0f);
    for (int k = 1; k < 4; ++k) {
        for (int i = 0; i < 48; ++i) {
            signal[static_cast<size_t>(k * kRate + i)] = i % 2 ? -0.8f : 0.8f;
        }
    }
    const Call call = runCall(signal, *talker, *listener);

    // Capture to the next tick, one frame to encode, the jitter buffer's margin and the
    // device buffers: well under 150 ms in all, and the same for every click.
    std::vector<size_t> delays;
    for (int k = 1; k < 4; ++k) {
        const auto begin = call.played.begin() + k * kRate;
        const auto found = std::find_if(begin, call.played.end(), [](float s) { return std::fabs(s) > 0.1f; });
        ASSERT_NE(found, call.played.end()) << "click " << k << " never arrived";
        delays.push_back(static_cast<size_t>(found - begin));
        std::printf("click %d arrived after %.1f ms\n", k, delays.back() * 1000.0 / kRate);
    }
    EXPECT_LT(delays[0], static_cast<size_t>(kRate * 15 / 100));
    EXPECT_EQ(delays[1], delays[0]);
    EXPECT_EQ(delays[2], delays[0]);
}

// A listener whose device went away for 1.5 s while the talker went on: what was said
// meanwhile is gone, and the talker is heard at the delay of before, not 1.5 s late.
TEST_F(VoiceCallTest, AfterTheDeviceWasAwayTheTalkerIsHeardAtTheDelayOfBefore) {
    auto talker = connectedClient(kKey, true);
    auto listener = connectedClient(kKey, true);
    plainTalker(*talker);
    // Irregular clicks: two before the device goes, one while it is away, three after.
    const double at[] = {0.8, 1.9, 3.0, 4.35, 5.2, 6.45};
    std::vector<float> signal(kRate * 7, 0.0f);
    for (double t : at) {
        for (int i = 0; i < 48; ++i) {
            signal[static_cast<size_t>(t * kRate) + i] = i % 2 ? -0.8f : 0.8f;
        }
    }
    const Call call = runCall(signal, *talker, *listener, {}, kRate * 5 / 2, kRate * 4);

    // The delay of each click: the first sound within 0.4 s of it, if any.
    auto delayOf = [&](double t) -> long {
        const auto begin = call.played.begin() + static_cast<long>(t * kRate);
        const auto end = begin + kRate * 4 / 10;
        const auto found = std::find_if(begin, end, [](float s) { return std::fabs(s) > 0.1f; });
        return found == end ? -1 : static_cast<long>(found - begin);
    };
    const long before = delayOf(at[0]);
    ASSERT_GT(before, 0);
    EXPECT_EQ(delayOf(at[1]), before);
    // Nothing of the click said while the device was away comes out after it returns.
    const auto quiet = std::find_if(call.played.begin() + kRate * 4, call.played.begin() + kRate * 43 / 10,
                                    [](float s) { return std::fabs(s) > 0.1f; });
    EXPECT_EQ(quiet, call.played.begin() + kRate * 43 / 10) << "a stale click played after the return";
    for (int k = 3; k < 6; ++k) {
        const long delay = delayOf(at[k]);
        std::printf("click at %.2f s heard after %.1f ms (before the device went: %.1f ms)\n", at[k],
                    delay * 1000.0 / kRate, before * 1000.0 / kRate);
        EXPECT_NEAR(delay, before, kRate / 50) << "click at " << at[k] << " s";
    }
}

// Talk spurts of 0.5 to 1.5 s between pauses of 0.15 to 0.5 s. `spurt` gets, for each
// sample, the number of its spurt, or -1 in a pause.
std::vector<float> conversation(double seconds, uint32_t seed, std::vector<int>& spurt) {
    std::vector<float> signal = qeltest::speechLike(kRate, seconds, seed);
    spurt.assign(signal.size(), -1);
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> uni(0.0, 1.0);
    size_t at = static_cast<size_t>(kRate * 0.3);
    std::fill(signal.begin(), signal.begin() + static_cast<std::ptrdiff_t>(at), 0.0f);
    for (int n = 0; at < signal.size(); ++n) {
        const size_t end =
            std::min(signal.size(), at + static_cast<size_t>(kRate * (0.5 + uni(rng))));
        std::fill(spurt.begin() + static_cast<std::ptrdiff_t>(at),
                  spurt.begin() + static_cast<std::ptrdiff_t>(end), n);
        const size_t pause =
            std::min(signal.size(), end + static_cast<size_t>(kRate * (0.15 + 0.35 * uni(rng))));
        std::fill(signal.begin() + static_cast<std::ptrdiff_t>(end),
                  signal.begin() + static_cast<std::ptrdiff_t>(pause), 0.0f);
        at = pause;
    }
    return signal;
}

// A link that stalls for 100 ms (as Wi-Fi does) and then delivers the held packets in a
// burst. The listener's buffer grows to take the burst; it must give the extra delay
// back within 5 s, and only out of the pauses: within a spurt, no speech is skipped.
// Every 20 ms of speech is looked for in what the listener played at the delay found at
// the start plus a whole number of frames (a frame dropped or inserted moves all that
// follows by 960 samples at this rate).
TEST_F(VoiceCallTest, DelayAddedByABurstOfLatePacketsGoesBackWithinFiveSecondsInThePauses) {
    auto talker = connectedClient(kKey, true);
    auto listener = connectedClient(kKey, true);
    plainTalker(*talker);
    const uint32_t seed = 2512;
    SCOPED_TRACE(::testing::Message() << "seed " << seed);
    std::vector<int> spurt;
    const auto signal = conversation(14.0, seed, spurt);
    const Stall stall{3000, 100};
    const Call call = runCall(signal, *talker, *listener, stall);

    double best = 0.0;
    const size_t base =
        qeltest::alignByCorrelation(signal, call.played, kRate, kRate, kRate * 15 / 100, best);
    ASSERT_GT(best, 0.8) << "the talker is heard before the stall";
    constexpr size_t kStep = 960;  // one frame at the device rate
    constexpr size_t kWindow = 1920;
    struct Heard {
        double at;  // seconds into the call
        int spurt;
        int frames;  // delay beyond the first one
    };
    std::vector<Heard> heard;
    for (size_t w = 0; w + kWindow + base + 30 * kStep < call.played.size(); w += kStep) {
        if (spurt[w] < 0 || spurt[w] != spurt[w + kWindow - 1] ||
            qeltest::energy(signal, w, w + kWindow) < 1e-3 * kWindow) {
            continue;
        }
        double top = 0.0;
        int frames = 0;
        for (int k = -3; k <= 30; ++k) {
            for (int d = -2; d <= 2; ++d) {
                const std::ptrdiff_t at = static_cast<std::ptrdiff_t>(w + base) +
                                          k * static_cast<std::ptrdiff_t>(kStep) + d;
                if (at < 0) {
                    continue;
                }
                const double c = qeltest::correlationAt(signal, w, call.played,
                                                        static_cast<size_t>(at), kWindow);
                if (c > top) {
                    top = c;
                    frames = k;
                }
            }
        }
        if (top > 0.8) {
            heard.push_back({static_cast<double>(w) / kRate, spurt[w], frames});
        }
    }
    ASSERT_GT(heard.size(), 300u) << "most of the 14 s of talk is found";

    const double stallEnd = (stall.fromMs + stall.ms) / 1000.0;
    int most = 0;
    double backAt = stallEnd;
    for (size_t i = 0; i < heard.size(); ++i) {
        const Heard& h = heard[i];
        most = std::max(most, h.frames);
        if (h.frames != 0 && h.at >= stallEnd) {
            backAt = h.at;
        }
        if (h.at < stall.fromMs / 1000.0) {
            EXPECT_EQ(h.frames, 0) << "before the stall, at " << h.at << " s";
        }
        if (i > 0 && heard[i - 1].spurt == h.spurt) {
            EXPECT_GE(h.frames, heard[i - 1].frames) << "speech skipped at " << h.at << " s";
        }
    }
    std::printf("delay %.1f ms; the stall added up to %d ms; back to it %.2f s after the stall\n",
                base * 1000.0 / kRate, most * 20, backAt - stallEnd);
    EXPECT_GE(most, 1) << "the burst did grow the buffer";
    EXPECT_LT(backAt - stallEnd, 5.0);
    EXPECT_EQ(heard.back().frames, 0);
}

TEST_F(VoiceCallTest, AListenerWithAnotherKeyDoesNotHearTheTalker) {
    auto talker = connectedClient(kKey, true);
    auto listener = connectedClient("ZYXWVUTSRQPONMLKJIHGFEDCBA987654", true);
    plainTalker(*talker);
    const auto signal = qeltest::multiTone(kRate, 3.0);
    const Call call = runCall(signal, *talker, *listener);
    EXPECT_GE(call.packets, 140);
    double best = 0.0;
    qeltest::alignByCorrelation(signal, call.played, kRate, kRate / 4, kRate / 5, best);
    std::printf("correlation under the wrong key: %.4f\n", best);
    EXPECT_LT(best, 0.3);
}

TEST_F(VoiceCallTest, RecordersTakeTheCallFromTheAudioThreadAndTheTicksWriteIt) {
    auto talker = connectedClient(kKey, true);
    auto listener = connectedClient(kKey, true);
    plainTalker(*talker);
    const auto dir = std::filesystem::temp_directory_path();
    const std::string device = (dir / "voice_call_device.wav").string();
    const std::string processed = (dir / "voice_call_processed.wav").string();
    ASSERT_TRUE(talker->record(device.c_str()));
    ASSERT_TRUE(talker->recordpost(processed.c_str()));
    const auto signal = qeltest::multiTone(kRate, 2.0);
    runCall(signal, *talker, *listener);
    EXPECT_TRUE(talker->disconnect());

    auto samples = [](const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::vector<int16_t> out((bytes.size() - 44) / 2);
        std::memcpy(out.data(), bytes.data() + 44, out.size() * 2);
        uint32_t dataBytes = 0;
        std::memcpy(&dataBytes, bytes.data() + 40, 4);
        EXPECT_EQ(dataBytes, bytes.size() - 44) << path;
        return out;
    };
    // Device file: captured (left) and played (right) per device buffer, 187 buffers
    // of 2 s, less the ones before the gate opened.
    const auto stereo = samples(device);
    const size_t frames = stereo.size() / 2;
    std::printf("device recording: %zu frames, processed recording: %zu samples\n", frames,
                samples(processed).size());
    EXPECT_GE(frames, static_cast<size_t>(180 * kFrames));
    EXPECT_LE(frames, signal.size());
    // The left channel is the capture exactly as mixed: 16-bit copies of the signal.
    const size_t offset = signal.size() / kFrames * kFrames - frames;
    for (size_t i = 1000; i < 1010; ++i) {
        EXPECT_NEAR(stereo[2 * i] / 32768.0, signal[offset + i], 1.0 / 32768 + 1e-6) << i;
    }
    // Processed file: the capture at 32 kHz after the module, as much of it as was
    // processed (two thirds of the device samples).
    const auto mono = samples(processed);
    EXPECT_NEAR(static_cast<double>(mono.size()), frames * 2.0 / 3.0, 2000.0);
    std::vector<float> asFloat(mono.begin(), mono.end());
    const double sent = qeltest::tonePower(signal, kRate, kRate / 2, kRate / 2, 470.0);
    const double kept = qeltest::tonePower(asFloat, 32000, 16000, 16000, 470.0) / (32768.0 * 32768.0);
    EXPECT_NEAR(10.0 * std::log10(kept / sent), 0.0, 1.0);
    std::filesystem::remove(device);
    std::filesystem::remove(processed);
}

// The far end goes quiet with the gate open: every buffer that needs a frame runs dry,
// and the client's log folds the underruns into one line (and a count, once the second
// is over and the log is walked).
TEST_F(VoiceCallTest, UnderrunsAreFoldedInTheClientsLog) {
    auto listener = connectedClient(kKey, true);
    messages(*listener);
    openAudioGate(*listener);
    std::vector<float> out(kFrames);
    float* outputs[1] = {out.data()};
    PollEvent event;
    for (int i = 0; i < 50; ++i) {
        ASSERT_TRUE(listener->audioIO(nullptr, 0, 1.0f, outputs, 1, 1.0f));
        // The call thread's poll writes what the audio thread counted.
        while (listener->poll(event)) {
        }
    }
    const auto lines = messages(*listener);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Network underrun"), 1);
    EXPECT_EQ(listener->log().droppedCount(), 0u);
}

// A device on the fake clock that runs while the call thread waits in poll: one 512-frame
// buffer every 32/3 ms of the clock, and a wait that ends when the session says a
// processed frame is ready.
struct DeviceWhileWaiting {
    static inline VoiceClient* client = nullptr;
    static inline uint64_t nextBufferUs = 0;
    static inline uint32_t readyAt = 0;
    static inline std::vector<float> tone;

    static void runDueBuffers() {
        std::vector<float> out(kFrames);
        const float* inputs[1] = {tone.data()};
        float* outputs[1] = {out.data()};
        while (nextBufferUs <= uint64_t{FakeClock::now} * 1000) {
            EXPECT_TRUE(client->audioIO(inputs, 1, 1.0f, outputs, 1, 1.0f));
            nextBufferUs += 1000000ULL * kFrames / kRate;
        }
    }
    static bool wait(platform::Semaphore& wake, uint32_t ms) noexcept {
        for (uint32_t i = 0; i < ms; ++i) {
            ++FakeClock::now;
            runDueBuffers();
            if (wake.tryAcquireFor(0)) {
                readyAt = FakeClock::now;
                return true;
            }
        }
        return false;
    }
};

// The poll loop does not hold a ready frame back until its next 20 ms step: the frame's
// completion in audioIO ends the wait, and the frame goes out at that moment.
TEST_F(VoiceCallTest, AReadyFrameEndsThePollWaitAndGoesOutAtOnce) {
    auto talker = connectedClient(kKey, true);
    openAudioGate(*talker);
    DeviceWhileWaiting::client = talker.get();
    DeviceWhileWaiting::nextBufferUs = uint64_t{FakeClock::now} * 1000;
    DeviceWhileWaiting::tone.resize(kFrames);
    for (int i = 0; i < kFrames; ++i) {
        DeviceWhileWaiting::tone[static_cast<size_t>(i)] = 0.3f * static_cast<float>(std::sin(i * 0.06));
    }
    TimeSource time = FakeClock::source();
    time.wait = &DeviceWhileWaiting::wait;
    talker->setTimeSource(time);

    const uint32_t start = FakeClock::now;
    int voice = 0;
    int atOnce = 0;
    PollEvent event;
    while (FakeClock::now - start < 2000) {
        while (talker->poll(event)) {
            if (event.code == E_QELEV_SEND_UDP && event.data[10] == E_QELPT_RTP) {
                ++voice;
                atOnce += DeviceWhileWaiting::readyAt == FakeClock::now ? 1 : 0;
                DeviceWhileWaiting::readyAt = 0;
            }
        }
    }
    std::printf("%d voice packets in 2 s, %d sent in the millisecond their frame was ready\n", voice, atOnce);
    // One packet per 20 ms of device audio, each sent as soon as its frame existed.
    EXPECT_GE(voice, 95);
    EXPECT_LE(voice, 101);
    EXPECT_GE(atOnce, voice - 1);
}

TEST_F(VoiceCallTest, AudioEntryPointsRefuseWhatTheyCannotUse) {
    auto client = VoiceClient::create();
    float buffer[kFrames] = {0.5f};
    float* outputs[1] = {buffer};
    EXPECT_FALSE(client->audioIO(nullptr, 0, 1.0f, outputs, 1, 1.0f));
    EXPECT_EQ(buffer[0], 0.5f) << "untouched before audioSetup";
    EXPECT_EQ(client->audioSetup(0, kFrames, 0), 0);
    EXPECT_EQ(client->audioSetup(-8000, kFrames, 0), 0);
    EXPECT_EQ(client->deviceRate(), 0u);
    EXPECT_EQ(client->audioSetup(44100, kFrames, 0), 2);
    EXPECT_EQ(client->audioSetup(44100, kFrames, 512), 44100);
    EXPECT_FALSE(client->setAudioFlag(4, true));
    EXPECT_EQ(client->getAudioFlag(0), 0);
    for (int flag = 1; flag <= 3; ++flag) {
        EXPECT_EQ(client->getAudioFlag(flag), 1) << "on in a new client";
    }
    EXPECT_TRUE(client->setAudioFlag(2, false));
    client->reset();
    EXPECT_EQ(client->getAudioFlag(2), 0) << "flags survive a reset";
    EXPECT_EQ(client->deviceRate(), 44100u) << "so does the device format";
    // The gate is shut again: silence out, nothing captured.
    EXPECT_TRUE(client->audioIO(nullptr, 0, 1.0f, outputs, 1, 1.0f));
    EXPECT_EQ(buffer[0], 0.0f);
}

}  // namespace
}  // namespace session::testing
