#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <numeric>
#include <vector>

#include "session/audio/rate_converter.h"

namespace {

std::vector<int16_t> ramp(int n, int start = 0) {
    std::vector<int16_t> v(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
        v[static_cast<size_t>(i)] = static_cast<int16_t>((start + i * 13) % 30000 - 15000);
    }
    return v;
}

TEST(RateConverter, EqualRatesPassSamplesThrough) {
    qel::RateConverter rc;
    rc.configure(32000, 32000);
    const auto in = ramp(512);
    std::vector<int16_t> out(512);
    const auto r = rc.convert(in.data(), 512, out.data(), 512);
    EXPECT_EQ(r.used, 512);
    EXPECT_EQ(r.written, 512);
    EXPECT_EQ(in, out);

    // Room limits the run; the rest is left for the next call.
    const auto r2 = rc.convert(in.data(), 512, out.data(), 100);
    EXPECT_EQ(r2.used, 100);
    EXPECT_EQ(r2.written, 100);
}

TEST(RateConverter, DownFrom48kMovesAbout341SamplesPerBuffer) {
    qel::RateConverter rc;
    rc.configure(48000, 32000);
    const auto in = ramp(512);
    std::vector<int16_t> out(1024);
    long total = 0;
    for (int call = 0; call < 300; ++call) {
        const auto r = rc.convert(in.data(), 512, out.data(), 1024);
        EXPECT_EQ(r.used, 512);
        EXPECT_GE(r.written, 341);
        EXPECT_LE(r.written, 342);
        total += r.written;
    }
    EXPECT_EQ(total, 300L * 512 * 2 / 3);  // exact over whole periods
}

TEST(RateConverter, AveragingTruncatesTowardZero) {
    qel::RateConverter rc;
    rc.configure(48000, 32000);
    // Output groups at 48k->32k: 2 inputs, then 1 input.
    const int16_t in[] = {-3, -2, 7, 5, 6, 1};
    int16_t out[4] = {};
    const auto r = rc.convert(in, 6, out, 4);
    ASSERT_EQ(r.written, 4);
    EXPECT_EQ(out[0], -2);  // (-3 + -2) / 2 = -2.5 -> -2
    EXPECT_EQ(out[1], 7);
    EXPECT_EQ(out[2], 5);   // (5 + 6) / 2 = 5.5 -> 5
    EXPECT_EQ(out[3], 1);
}

TEST(RateConverter, UpTo48kFills512OutputsFromAbout341Inputs) {
    qel::RateConverter rc;
    rc.configure(32000, 48000);
    const auto in = ramp(2048);
    std::vector<int16_t> out(512);
    long used = 0;
    for (int call = 0; call < 300; ++call) {
        const auto r = rc.convert(in.data(), 2048, out.data(), 512);
        EXPECT_EQ(r.written, 512);
        EXPECT_GE(r.used, 341);
        EXPECT_LE(r.used, 342);
        used += r.used;
    }
    EXPECT_NEAR(static_cast<double>(used), 300.0 * 512 * 2 / 3, 1.0);
}

TEST(RateConverter, InterpolationIsContinuousAcrossCalls) {
    // A slow ramp converted in odd-sized runs must equal the same ramp converted in
    // one run: the state (previous, current, phase) carries over.
    std::vector<int16_t> in(3000);
    for (size_t i = 0; i < in.size(); ++i) {
        in[i] = static_cast<int16_t>(static_cast<int>(i) * 10 - 15000);
    }
    qel::RateConverter whole;
    whole.configure(32000, 44100);
    std::vector<int16_t> expected(4000);
    const auto rw = whole.convert(in.data(), 2900, expected.data(), 4000);

    qel::RateConverter pieces;
    pieces.configure(32000, 44100);
    std::vector<int16_t> got;
    size_t pos = 0;
    int16_t buf[97];
    while (got.size() < static_cast<size_t>(rw.written)) {
        const int room = std::min<int>(97, rw.written - static_cast<int>(got.size()));
        const auto r = pieces.convert(in.data() + pos, static_cast<int>(in.size() - pos), buf, room);
        pos += static_cast<size_t>(r.used);
        got.insert(got.end(), buf, buf + r.written);
    }
    expected.resize(static_cast<size_t>(rw.written));
    EXPECT_EQ(got, expected);
    // Linear interpolation of a ramp stays on the ramp (one sample of delay aside).
    for (size_t k = 10; k < got.size(); ++k) {
        const double t = static_cast<double>(k) * 32000.0 / 44100.0 - 1.0;
        EXPECT_NEAR(got[k], t * 10 - 15000, 11.0) << k;
    }
}

TEST(RateConverter, HighOutputRatesDoNotOverflow) {
    // 32 kHz to 192 kHz with full-scale samples: 32-bit products would wrap.
    qel::RateConverter rc;
    rc.configure(32000, 192000);
    std::vector<int16_t> in(64, 32767);
    in[0] = -32768;
    std::vector<int16_t> out(300);
    const auto r = rc.convert(in.data(), 64, out.data(), 300);
    ASSERT_EQ(r.written, 300);
    for (size_t k = 12; k < out.size(); ++k) {
        EXPECT_EQ(out[k], 32767) << k;
    }
}

TEST(RateConverter, EmptyRunsDoNothing) {
    qel::RateConverter rc;
    rc.configure(32000, 48000);
    int16_t in[1] = {5};
    int16_t out[4] = {};
    const auto r = rc.convert(in, 0, out, 4);
    EXPECT_EQ(r.used + r.written, 0);
    const auto r2 = rc.convert(in, 1, out, 0);
    EXPECT_EQ(r2.used + r2.written, 0);
}

}  // namespace
