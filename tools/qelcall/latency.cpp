#include "tools/qelcall/latency.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace qelcall {
namespace {

// Index of the first sample at half the peak; the codec and the processing change a
// click's level, so the threshold follows each signal's own peak.
long firstClick(const std::vector<float>& s) {
    float peak = 0;
    for (float v : s) peak = std::max(peak, std::fabs(v));
    if (peak < 0.05f) {
        return -1;
    }
    for (size_t i = 0; i < s.size(); ++i) {
        if (std::fabs(s[i]) >= peak / 2) return static_cast<long>(i);
    }
    return -1;
}

}  // namespace

double clickLatencyMs(const std::vector<float>& sent, const std::vector<float>& heard, int rate) {
    const long a = firstClick(sent);
    const long b = firstClick(heard);
    if (a < 0 || b < a) {
        return -1;
    }
    return 1000.0 * static_cast<double>(b - a) / rate;
}

}  // namespace qelcall
