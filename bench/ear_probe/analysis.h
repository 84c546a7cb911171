// What ear_probe makes of a run: the sounds it put into the engine's microphone and what
// the engine's speaker gave back, both counted in the sound server's frames from the same
// first frame. Plain functions on recorded samples; nothing here runs on the audio thread.
#pragma once

#include <cstdint>
#include <random>
#include <vector>

namespace earprobe {

// Short bursts at irregular distances (the echo canceller takes a strictly periodic
// sound for the echo of the one before). Frames from the start of the recording.
struct Clicks {
    std::vector<int64_t> at;
    int length = 0;  // frames of each burst
};

// Bursts of 5 ms from `firstFrame` on, `minGapS` to `maxGapS` apart, until `frames`.
Clicks scheduleClicks(int rate, int64_t frames, double minGapS, double maxGapS, uint32_t seed);

// Writes the bursts into `mic` (a square wave of about 1 kHz at `amplitude`).
void drawClicks(const Clicks& clicks, int rate, float amplitude, std::vector<float>& mic);

// Each burst's delay in frames: the first frame after it whose sample reaches
// `threshold` in magnitude, before the next burst starts. Bursts never heard are left out.
std::vector<int64_t> clickDelays(const Clicks& clicks, const std::vector<float>& heard,
                                 float threshold);

struct Spread {
    int count = 0;
    double median = 0, p90 = 0, min = 0, max = 0;
};
Spread spreadOf(std::vector<double> values);

// The lag (frames, 0..maxLag) at which `heard` best follows `played`, from their 1-ms
// envelopes; -1 when nothing was heard.
int64_t envelopeLag(const std::vector<float>& played, const std::vector<float>& heard, int rate,
                    int64_t maxLag);

// Digital silence inside speech: runs of exact 0.0 of at least `minRun` frames in `heard`
// with speech heard on both sides (the 10 ms before and after at `speechDbfs` or more): a
// cut in the speech, where a quieted or suppressed stretch fades out and in. Speech
// seconds are the heard frames where `played`, `lag` frames earlier, is speech (its 10-ms
// block and both neighbours at `speechDbfs` or more).
struct Holes {
    int runs = 0;
    int64_t silentFrames = 0;
    int64_t longestRun = 0;
    double speechSeconds = 0;  // heard frames that fall in speech
};
Holes digitalSilence(const std::vector<float>& played, const std::vector<float>& heard, int64_t lag,
                     int rate, int minRun, double speechDbfs);

// RMS level in dBFS of samples [from, to); -inf for digital silence.
double levelDbfs(const std::vector<float>& samples, int64_t from, int64_t to);

}  // namespace earprobe
