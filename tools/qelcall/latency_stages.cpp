#include "tools/qelcall/latency_stages.h"

#include <algorithm>
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

void medianStages(double* samples, int count, double* out) {
    std::vector<double> column(static_cast<size_t>(count));
    std::vector<double> totals(static_cast<size_t>(count), 0.0);
    for (int stage = 0; stage < kStageCount; ++stage) {
        for (int i = 0; i < count; ++i) {
            column[i] = samples[i * kStageCount + stage];
            totals[i] += column[i];
        }
        std::sort(column.begin(), column.end());
        out[stage] = count > 0 ? column[count / 2] : 0.0;
    }
    std::sort(totals.begin(), totals.end());
    out[kStageCount] = count > 0 ? totals[count / 2] : 0.0;
}

}  // namespace qelcall
