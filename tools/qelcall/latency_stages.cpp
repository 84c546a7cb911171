#include "tools/qelcall/latency_stages.h"

#include <algorithm>
#include <cstddef>
#include <numeric>
#include <utility>
#include <vector>

namespace qelcall {

const char* stageName(int stage) {
    static const char* const kNames[kStageCount] = {
        "capture buffer", "whole frame",   "poll tick",     "network (echo)",
        "call thread read", "jitter buffer", "playback FIFO", "output buffer"};
    return stage >= 0 && stage < kStageCount ? kNames[stage] : "?";
}

bool stageTimes(const ClickStamps& s, double inputLatencyMs, double outputLatencyMs, int rate,
                double out[kStageCount]) {
    const int64_t chain[] = {s.handedInUs, s.readyUs,  s.encodedUs, s.arrivedUs,
                             s.queuedUs,   s.decodedUs, s.playedUs};
    for (size_t i = 0; i < std::size(chain); ++i) {
        if (chain[i] == 0 || (i > 0 && chain[i] < chain[i - 1])) {
            return false;
        }
    }
    const double msPerSample = 1000.0 / rate;
    out[kCaptureBuffer] = inputLatencyMs - s.inputOffset * msPerSample;
    for (int stage = kWholeFrame; stage <= kPlaybackFifo; ++stage) {
        out[stage] = static_cast<double>(chain[stage] - chain[stage - 1]) / 1000.0;
    }
    out[kOutputBuffer] = outputLatencyMs + s.outputOffset * msPerSample;
    return true;
}

void medianClick(const double* samples, int count, double* out) {
    std::fill(out, out + kStageCount + 1, 0.0);
    if (count <= 0) {
        return;
    }
    std::vector<std::pair<double, int>> totals;
    for (int i = 0; i < count; ++i) {
        const double* row = samples + static_cast<ptrdiff_t>(i) * kStageCount;
        totals.emplace_back(std::accumulate(row, row + kStageCount, 0.0), i);
    }
    std::nth_element(totals.begin(), totals.begin() + count / 2, totals.end());
    const double* median = samples + static_cast<ptrdiff_t>(totals[count / 2].second) * kStageCount;
    std::copy(median, median + kStageCount, out);
    out[kStageCount] = totals[count / 2].first;
}

}  // namespace qelcall
