// How a clip fills the device's buffers, and resampling with libresample and PortAudio's
// dithering converter.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "engine/sound_clip.h"

namespace tallix {
namespace {

SoundClip clipOf(std::vector<int16_t> samples, bool loop, int extraBytes = 0) {
    SoundClip clip;
    clip.bytes.resize(samples.size() * 2);
    if (!samples.empty()) {
        std::memcpy(clip.bytes.data(), samples.data(), clip.bytes.size());
    }
    clip.bytes.insert(clip.bytes.end(), static_cast<size_t>(extraBytes), 0x7f);
    clip.sampleRate = 48000;
    clip.loop = loop;
    return clip;
}

TEST(SoundClipTest, LoopingClipShorterThanABufferRepeatsWithinIt) {
    SoundClip clip = clipOf({1, 2, 3}, true);
    std::vector<int16_t> out(8, -1);
    EXPECT_TRUE(fillFromClip(clip, out.data(), out.size()));
    EXPECT_EQ(out, (std::vector<int16_t>{1, 2, 3, 1, 2, 3, 1, 2}));
    EXPECT_EQ(clip.position, 4);  // the next buffer goes on with the third sample
    EXPECT_TRUE(fillFromClip(clip, out.data(), 2));
    EXPECT_EQ(out[0], 3);
    EXPECT_EQ(out[1], 1);
}

TEST(SoundClipTest, OneShotClipEndsWithASilentRemainderAndStaysEnded) {
    SoundClip clip = clipOf({5, 6, 7, 8, 9}, false);
    std::vector<int16_t> out(4, -1);
    EXPECT_TRUE(fillFromClip(clip, out.data(), out.size()));
    EXPECT_EQ(out, (std::vector<int16_t>{5, 6, 7, 8}));
    EXPECT_FALSE(fillFromClip(clip, out.data(), out.size()));
    EXPECT_EQ(out, (std::vector<int16_t>{9, 0, 0, 0}));
    EXPECT_FALSE(fillFromClip(clip, out.data(), out.size()));
    EXPECT_EQ(out, (std::vector<int16_t>{0, 0, 0, 0}));

    // Ending exactly at a buffer's end is the end too.
    SoundClip exact = clipOf({1, 2}, false);
    EXPECT_FALSE(fillFromClip(exact, out.data(), 2));
}

TEST(SoundClipTest, OddLastByteIsNeverPlayed) {
    SoundClip once = clipOf({10, 20}, false, 1);
    std::vector<int16_t> out(4, -1);
    EXPECT_FALSE(fillFromClip(once, out.data(), out.size()));
    EXPECT_EQ(out, (std::vector<int16_t>{10, 20, 0, 0}));

    // Looping or not, the odd byte is no whole sample: the clip ends before it.
    SoundClip looping = clipOf({10, 20}, true, 1);
    EXPECT_FALSE(fillFromClip(looping, out.data(), out.size()));
    EXPECT_EQ(out, (std::vector<int16_t>{10, 20, 0, 0}));
    SoundClip exact = clipOf({10, 20}, true, 1);
    EXPECT_FALSE(fillFromClip(exact, out.data(), 2)) << "ending with the buffer";
    EXPECT_FALSE(fillFromClip(exact, out.data(), out.size()));
    EXPECT_EQ(out, (std::vector<int16_t>{0, 0, 0, 0}));
}

TEST(SoundClipTest, ClipWithoutAWholeSampleEndsAtOnceEvenWhenLooping) {
    for (int bytes : {0, 1}) {
        SoundClip clip = clipOf({}, true, bytes);
        std::vector<int16_t> out(4, -1);
        EXPECT_FALSE(fillFromClip(clip, out.data(), out.size())) << bytes << " bytes";
        EXPECT_EQ(out, (std::vector<int16_t>{0, 0, 0, 0}));
    }
}

// Counts sign changes: twice the number of periods of a sine.
int zeroCrossings(const SoundClip& clip) {
    const auto* s = reinterpret_cast<const int16_t*>(clip.bytes.data());
    int crossings = 0;
    for (int i = 1; i < clip.byteLength() / 2; ++i) {
        if ((s[i - 1] < 0) != (s[i] < 0)) {
            ++crossings;
        }
    }
    return crossings;
}

TEST(SoundClipTest, ResamplingKeepsLengthInTimePitchAndLevel) {
    std::vector<int16_t> sine(44100);
    for (size_t i = 0; i < sine.size(); ++i) {
        sine[i] = static_cast<int16_t>(16000 * std::sin(2 * M_PI * 441.0 * i / 44100.0));
    }
    SoundClip clip = clipOf(sine, false);
    clip.sampleRate = 44100;
    clip.position = 22050 * 2;  // half-way
    const int before = zeroCrossings(clip);
    ASSERT_TRUE(resampleClip(clip, 48000));
    EXPECT_EQ(clip.sampleRate, 48000);
    EXPECT_NEAR(clip.byteLength() / 2, 48000, 100);  // still one second
    EXPECT_NEAR(zeroCrossings(clip), before, 4);    // still 441 Hz
    EXPECT_EQ(clip.position, 24000 * 2);            // still half-way
    int peak = 0;
    const auto* s = reinterpret_cast<const int16_t*>(clip.bytes.data());
    for (int i = 1000; i < 47000; ++i) {
        peak = std::max(peak, std::abs(static_cast<int>(s[i])));
    }
    EXPECT_NEAR(peak, 16000, 200);
}

TEST(SoundClipTest, ResamplingClipsAndDithersLikePortAudio) {
    // Full-scale square: the resampler's overshoot must be clipped, not wrapped.
    std::vector<int16_t> square(8000);
    for (size_t i = 0; i < square.size(); ++i) {
        square[i] = (i / 40) % 2 ? 32767 : -32768;
    }
    SoundClip loud = clipOf(square, false);
    loud.sampleRate = 8000;
    ASSERT_TRUE(resampleClip(loud, 16000));
    const auto* s = reinterpret_cast<const int16_t*>(loud.bytes.data());
    // The resampler overshoots at every edge; wrapped instead of clipped, an overshoot
    // would jump by nearly 65536 from one sample to the next.
    int steepest = 0;
    for (int i = 1; i < loud.byteLength() / 2; ++i) {
        steepest = std::max(steepest, std::abs(s[i] - s[i - 1]));
    }
    EXPECT_LT(steepest, 50000);
    EXPECT_EQ(*std::max_element(s, s + loud.byteLength() / 2), 32767);
    // Silence stays within the dither's two least significant bits.
    SoundClip quiet = clipOf(std::vector<int16_t>(4410, 0), false);
    quiet.sampleRate = 44100;
    ASSERT_TRUE(resampleClip(quiet, 48000));
    const auto* q = reinterpret_cast<const int16_t*>(quiet.bytes.data());
    for (int i = 0; i < quiet.byteLength() / 2; ++i) {
        EXPECT_LE(std::abs(q[i]), 2);
    }
}

}  // namespace
}  // namespace tallix
