#include "tools/qelcall/call_quality.h"

#include <algorithm>
#include <cmath>

namespace qelcall::quality {

double delayImpairment(double oneWayMs) noexcept {
    if (!(oneWayMs > 100.0)) {
        return 0.0;
    }
    const double x = std::log10(oneWayMs / 100.0) / std::log10(2.0);
    return 25.0 * (std::pow(1.0 + std::pow(x, 6.0), 1.0 / 6.0) -
                   3.0 * std::pow(1.0 + std::pow(x / 3.0, 6.0), 1.0 / 6.0) + 2.0);
}

double equipmentImpairment(double lossPercent) noexcept {
    const double ppl = std::clamp(lossPercent, 0.0, 100.0);
    return kIe + (95.0 - kIe) * ppl / (ppl / kBurstR + kBpl);
}

double rFactor(double lossPercent, double oneWayMs) noexcept {
    return kDefaultR - delayImpairment(oneWayMs) - equipmentImpairment(lossPercent);
}

double mos(double r) noexcept {
    if (r <= 0.0) {
        return 1.0;
    }
    if (r >= 100.0) {
        return 4.5;
    }
    return 1.0 + 0.035 * r + r * (r - 60.0) * (100.0 - r) * 7e-6;
}

}  // namespace qelcall::quality
