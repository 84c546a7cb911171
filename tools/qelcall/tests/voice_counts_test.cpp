// What qelcall --stats counts: voice packets by their sequence numbers as they come off
// the sockets, the jitter buffer's messages as the library's log folds them, and the
// levels of the audio.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "tools/qelcall/call_quality.h"
#include "tools/qelcall/level_meter.h"
#include "tools/qelcall/voice_log.h"
#include "tools/qelcall/voice_sequence.h"

namespace {

using qelcall::LevelMeter;
using qelcall::VoiceLog;
using qelcall::VoiceSequence;

void putLe(std::vector<uint8_t>& out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
    }
}

// A session packet: magic, token, length, type, status, reserved, then the body.
std::vector<uint8_t> packet(uint8_t type, const std::vector<uint8_t>& body) {
    std::vector<uint8_t> p;
    putLe(p, 0x57721566, 4);
    putLe(p, 0x1234, 4);
    putLe(p, static_cast<uint32_t>(16 + body.size()), 2);
    p.push_back(type);
    p.push_back(0);
    putLe(p, 0, 4);
    p.insert(p.end(), body.begin(), body.end());
    return p;
}

std::vector<uint8_t> voice(uint32_t sequence, size_t frameBytes = 40) {
    std::vector<uint8_t> body;
    putLe(body, 0xCAFEF00D, 4);
    putLe(body, sequence, 4);
    body.resize(body.size() + frameBytes, 0x5A);
    return packet(7, body);
}

TEST(VoiceSequence, CountsGapsAsLostAndTakesLateArrivalsBack) {
    VoiceSequence s;
    for (uint32_t n : {10u, 11u, 14u, 12u, 15u, 15u, 20u}) {
        const auto p = voice(n);
        s.datagram(p.data(), p.size(), 0.0);
    }
    EXPECT_EQ(s.received(), 7u);
    EXPECT_EQ(s.late(), 1u);        // 12 after 14
    EXPECT_EQ(s.duplicates(), 1u);  // the second 15
    EXPECT_EQ(s.lost(), 5u);        // 13, 16-19
    const auto repeatOfLate = voice(12);
    s.datagram(repeatOfLate.data(), repeatOfLate.size(), 0.0);
    EXPECT_EQ(s.duplicates(), 2u);
    EXPECT_EQ(s.lost(), 5u);
}

TEST(VoiceSequence, CountsAcrossTheWrapAndRestartsOnAFreshNumbering) {
    VoiceSequence s;
    for (uint32_t n : {0xFFFFFFFEu, 0xFFFFFFFFu, 1u, 1'000'000u, 1'000'001u}) {
        const auto p = voice(n);
        s.datagram(p.data(), p.size(), 0.0);
    }
    EXPECT_EQ(s.received(), 5u);
    EXPECT_EQ(s.lost(), 1u);  // 0; the jump to a million is a new numbering
    EXPECT_EQ(s.late(), 0u);
}

TEST(VoiceSequence, FindsVoiceAmongControlPacketsAndAcrossSplitStreamReads) {
    std::vector<uint8_t> bytes;
    const std::vector<uint8_t> control = packet(3, {'n', 'a', 'm', 'e', ':', 'x', '\n'});
    for (uint32_t n = 0; n < 6; ++n) {
        const auto v = voice(n == 4 ? 5 : n, 30 + n);
        bytes.insert(bytes.end(), v.begin(), v.end());
        bytes.insert(bytes.end(), control.begin(), control.end());
    }
    VoiceSequence whole;
    whole.datagram(bytes.data(), bytes.size(), 0.0);
    EXPECT_EQ(whole.received(), 6u);
    EXPECT_EQ(whole.duplicates(), 1u);  // 5 twice
    EXPECT_EQ(whole.lost(), 1u);        // 4

    // The same bytes cut at every odd place a TCP read can cut them.
    for (size_t piece : {1u, 3u, 15u, 16u, 17u, 23u, 24u, 100u}) {
        VoiceSequence cut;
        for (size_t at = 0; at < bytes.size(); at += piece) {
            cut.stream(bytes.data() + at, std::min(piece, bytes.size() - at), 0.0);
        }
        EXPECT_EQ(cut.received(), 6u) << "pieces of " << piece;
        EXPECT_EQ(cut.lost(), 1u) << "pieces of " << piece;
    }
}

TEST(VoiceSequence, IgnoresWhatIsNotAWholeVoicePacket) {
    VoiceSequence s;
    auto p = voice(1);
    s.datagram(p.data(), 20, 0.0);  // cut short
    auto bad = voice(2);
    bad[0] ^= 0xFF;  // not the magic
    s.datagram(bad.data(), bad.size(), 0.0);
    const auto shortVoice = packet(7, {1, 2, 3});  // no sequence in it
    s.datagram(shortVoice.data(), shortVoice.size(), 0.0);
    EXPECT_EQ(s.received(), 0u);
    // A stream out of step drops what it holds and frames the next read afresh.
    s.stream(bad.data(), bad.size(), 0.0);
    s.stream(p.data(), p.size(), 0.0);
    EXPECT_EQ(s.received(), 1u);
}

// RFC 3550's jitter is the mean deviation of the transit-time differences: with each
// packet's network delay drawn uniformly from 0..W ms, the mean of |D| is W/3. Packets
// overtake each other here and some go missing; the figure must not care.
TEST(VoiceSequence, InterarrivalJitterIsTheMeanDeviationOfTransitTimes) {
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> delayMs(0.0, 30.0);
    std::bernoulli_distribution dropped(0.05);
    struct Arrival {
        double ms;
        uint32_t sequence;
    };
    std::vector<Arrival> arrivals;
    for (uint32_t n = 0; n < 20000; ++n) {
        if (!dropped(random)) {
            arrivals.push_back({1000.0 + 20.0 * n + delayMs(random), 0xFFFFF000u + n});
        }
    }
    std::sort(arrivals.begin(), arrivals.end(), [](auto& a, auto& b) { return a.ms < b.ms; });
    VoiceSequence s;
    EXPECT_LT(s.jitterMs(), 0);
    // Smoothed over 16 packets the figure wanders (by about 1.5 ms here); its mean over
    // the stream is the mean deviation.
    double sum = 0;
    int counted = 0;
    for (const Arrival& a : arrivals) {
        const auto p = voice(a.sequence);
        s.datagram(p.data(), p.size(), a.ms);
        if (s.received() > 100) {
            sum += s.jitterMs();
            ++counted;
        }
    }
    EXPECT_GT(s.late(), 500u);
    EXPECT_NEAR(sum / counted, 10.0, 0.4);

    // A steady stream 20 ms apart has none, whatever its constant delay.
    VoiceSequence steady;
    for (uint32_t n = 0; n < 100; ++n) {
        const auto p = voice(n);
        steady.datagram(p.data(), p.size(), 5000.0 + 20.0 * n);
    }
    EXPECT_NEAR(steady.jitterMs(), 0.0, 1e-9);
}

TEST(VoiceLog, FoldedRunsCountEveryOccurrenceOnce) {
    VoiceLog log;
    log.line("0001.000 Network underrun");
    log.line(
        "0002.100 Repeated 5 times: Network underrun");  // the first of the five was the line above
    log.line("0002.100 Network underrun");
    log.line("0002.200 Jitter buffer packet inserted");
    log.line("0003.300 Repeated 3 times: Jitter buffer packet inserted");
    log.line("0003.400 JitterBuffer error -1");
    log.line("0003.500 Repeated 4 times: POLL(): Adjusting m_nexttick by 3");
    log.line("Network underrun");
    log.line("0005.000 Server 5 sec network report: 4 packets lost");
    log.line("0010.000 Server 5 sec network report: 2 packets lost");
    EXPECT_EQ(log.serverLost(), 6u);
    EXPECT_EQ(log.underruns(), 7u);
    EXPECT_EQ(log.insertions(), 3u);
    EXPECT_EQ(log.errors(), 1u);
    EXPECT_EQ(log.concealed(), 11u);
}

// The jitter buffer's filling at the call's start is counted apart; a folded run counts
// where its first line fell, even when its summary comes after the start-up.
TEST(VoiceLog, StartUpCountsApartAndFoldedRunsFollowTheirFirstLine) {
    VoiceLog log;
    log.line("0001.000 Network underrun", true);
    log.line("0001.020 Jitter buffer packet inserted", true);
    log.line("0002.100 Repeated 3 times: Network underrun", false);
    log.line("0002.120 Repeated 3 times: Jitter buffer packet inserted", false);
    log.line("0005.000 Network underrun", false);
    // Walked late, inside the start-up window of nothing: still counts after.
    log.line("0006.100 Repeated 2 times: Network underrun", true);
    EXPECT_EQ(log.startUpUnderruns(), 3u);
    EXPECT_EQ(log.startUpInsertions(), 3u);
    EXPECT_EQ(log.startUpConcealed(), 6u);
    EXPECT_EQ(log.underruns(), 5u);
    EXPECT_EQ(log.concealed(), 8u);
}

TEST(VoiceLog, StatisticsLineGivesDepthAndLoads) {
    VoiceLog log;
    EXPECT_EQ(log.depth(), -1);
    log.line("0001.020 jb=3, rx=50 tx=50 @50.0Hz, nl= 1.5% al= 0.7% tl= 2.2%");
    log.line("0002.020 jb=x, rx=50 tx=50 @50.0Hz, nl= 1.5% al= 0.7% tl= 2.2%");
    EXPECT_EQ(log.depth(), 3);
    EXPECT_DOUBLE_EQ(log.networkLoad(), 1.5);
    EXPECT_NEAR(log.audioLoad(), 0.7, 1e-6);
    EXPECT_EQ(log.statisticsLines(), 1u);
}

TEST(LevelMeter, GivesRmsAndPeakOfEachIntervalInDbfs) {
    constexpr double kPi = 3.14159265358979323846;
    LevelMeter meter;
    std::vector<float> sine(4800);
    for (size_t i = 0; i < sine.size(); ++i) {
        sine[i] = 0.5f * static_cast<float>(
                             std::sin(2 * kPi * 1000.0 * static_cast<double>(i) / 48000.0));
    }
    meter.add(sine.data(), 2400);
    meter.add(sine.data() + 2400, 2400);
    const qelcall::Level loud = meter.take();
    EXPECT_EQ(loud.samples, 4800u);
    EXPECT_NEAR(loud.peakDbfs, -6.02, 0.01);
    EXPECT_NEAR(loud.rmsDbfs, -9.03, 0.01);
    const std::vector<float> silence(512, 0.0f);
    meter.add(silence.data(), 512);
    const qelcall::Level quiet = meter.take();
    EXPECT_EQ(quiet.rmsDbfs, LevelMeter::kFloorDbfs);
    EXPECT_EQ(quiet.peakDbfs, LevelMeter::kFloorDbfs);
    EXPECT_EQ(meter.take().samples, 0u);
}

// Clipped: what sits at 16-bit full scale either way (a saturated decoder leaves 32767
// and -32768); a loud peak just below it is not.
TEST(LevelMeter, CountsSamplesAtFullScaleOfEachInterval) {
    const float buffer[] = {0.5f, 32767.0f / 32768.0f, -1.0f, 32700.0f / 32768.0f, -0.99f, 1.0f};
    LevelMeter meter;
    meter.add(buffer, 6);
    EXPECT_EQ(meter.take().clipped, 3u);
    meter.add(buffer, 1);
    EXPECT_EQ(meter.take().clipped, 0u);
}

// The E-model's own figures: G.107 rates a connection with every input at its default
// R = 93.2 (MOS 4.41); Annex B's MOS at the edges of the quality classes of R (G.109);
// G.107's delay impairment is nil up to 100 ms; G.113's Ie,eff for the codec figures.
TEST(CallQuality, GivesTheStandardsFigures) {
    namespace q = qelcall::quality;
    EXPECT_DOUBLE_EQ(q::rFactor(0.0, -1.0), 93.2);
    EXPECT_DOUBLE_EQ(q::rFactor(0.0, 100.0), 93.2);
    EXPECT_NEAR(q::mos(93.2), 4.41, 0.005);
    const double classes[][2] = {{90, 4.34}, {80, 4.03}, {70, 3.60}, {60, 3.10}, {50, 2.58}};
    for (const auto& c : classes) {
        EXPECT_NEAR(q::mos(c[0]), c[1], 0.007) << "R " << c[0];
    }
    EXPECT_EQ(q::mos(-5), 1.0);
    EXPECT_EQ(q::mos(120), 4.5);
    // Ie,eff = 95 Ppl / (Ppl + 25.1): 1 % loss costs 3.64, 10 % 27.07.
    EXPECT_NEAR(q::rFactor(1.0, -1.0), 93.2 - 3.64, 0.01);
    EXPECT_NEAR(q::rFactor(10.0, -1.0), 93.2 - 27.07, 0.01);
    // Idd at 200 ms (X = 1 in G.107's formula: 25 (2^(1/6) - 3 (1 + 3^-6)^(1/6) + 2)),
    // rising with delay.
    EXPECT_NEAR(q::delayImpairment(200.0), 3.04, 0.01);
    EXPECT_LT(q::rFactor(0.0, 300.0), q::rFactor(0.0, 150.0));
}

}  // namespace
