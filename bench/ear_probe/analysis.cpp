#include "bench/ear_probe/analysis.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace earprobe {

Clicks scheduleClicks(int rate, int64_t frames, double minGapS, double maxGapS, uint32_t seed) {
    Clicks clicks;
    clicks.length = rate / 200;
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> gap(minGapS, maxGapS);
    for (int64_t at = rate / 2; at + rate < frames;
         at += static_cast<int64_t>(gap(random) * rate)) {
        clicks.at.push_back(at);
    }
    return clicks;
}

void drawClicks(const Clicks& clicks, int rate, float amplitude, std::vector<float>& mic) {
    const int halfPeriod = std::max(1, rate / 2000);
    for (const int64_t at : clicks.at) {
        for (int i = 0; i < clicks.length && at + i < static_cast<int64_t>(mic.size()); ++i) {
            mic[at + i] = (i / halfPeriod) % 2 ? -amplitude : amplitude;
        }
    }
}

std::vector<int64_t> clickDelays(const Clicks& clicks, const std::vector<float>& heard,
                                 float threshold) {
    std::vector<int64_t> delays;
    const auto size = static_cast<int64_t>(heard.size());
    for (size_t k = 0; k < clicks.at.size(); ++k) {
        const int64_t from = clicks.at[k];
        const int64_t to = std::min(size, k + 1 < clicks.at.size() ? clicks.at[k + 1] : size);
        for (int64_t i = from; i < to; ++i) {
            if (std::fabs(heard[i]) >= threshold) {
                delays.push_back(i - from);
                break;
            }
        }
    }
    return delays;
}

Spread spreadOf(std::vector<double> values) {
    Spread s;
    if (values.empty()) {
        return s;
    }
    std::sort(values.begin(), values.end());
    s.count = static_cast<int>(values.size());
    s.median = values[values.size() / 2];
    s.p90 = values[std::min(values.size() - 1, values.size() * 9 / 10)];
    s.min = values.front();
    s.max = values.back();
    return s;
}

namespace {

// Mean magnitude of each `block` frames.
std::vector<double> envelope(const std::vector<float>& samples, int block) {
    std::vector<double> out(samples.size() / block);
    for (size_t b = 0; b < out.size(); ++b) {
        double sum = 0;
        for (int i = 0; i < block; ++i) {
            sum += std::fabs(samples[b * block + i]);
        }
        out[b] = sum / block;
    }
    return out;
}

}  // namespace

int64_t envelopeLag(const std::vector<float>& played, const std::vector<float>& heard, int rate,
                    int64_t maxLag) {
    const int block = std::max(1, rate / 1000);
    std::vector<double> p = envelope(played, block);
    std::vector<double> h = envelope(heard, block);
    const auto center = [](std::vector<double>& v) {
        double mean = 0;
        for (double x : v) mean += x;
        mean /= std::max<size_t>(1, v.size());
        for (double& x : v) x -= mean;
    };
    center(p);
    center(h);
    int64_t best = -1;
    double bestScore = 0;
    const int64_t lags = std::min<int64_t>(maxLag / block, static_cast<int64_t>(h.size()) - 1);
    for (int64_t lag = 0; lag <= lags; ++lag) {
        double score = 0;
        for (size_t i = static_cast<size_t>(lag); i < h.size() && i - lag < p.size(); ++i) {
            score += h[i] * p[i - lag];
        }
        if (score > bestScore) {
            bestScore = score;
            best = lag * block;
        }
    }
    return best;
}

Holes digitalSilence(const std::vector<float>& played, const std::vector<float>& heard, int64_t lag,
                     int rate, int minRun, double speechDbfs) {
    Holes holes;
    const int block = rate / 100;
    const auto blocks = static_cast<int64_t>(played.size()) / block;
    std::vector<bool> loud(static_cast<size_t>(blocks));
    for (int64_t b = 0; b < blocks; ++b) {
        loud[b] = levelDbfs(played, b * block, (b + 1) * block) >= speechDbfs;
    }
    // Whether heard frame i falls in speech: its played block and both neighbours loud,
    // so the edges of words, where a codec may well end in true silence, never count.
    const auto inSpeech = [&](int64_t i) {
        const int64_t b = (i - lag) / block;
        return i >= lag && b >= 1 && b + 1 < blocks && loud[b - 1] && loud[b] && loud[b + 1];
    };
    const auto size = static_cast<int64_t>(heard.size());
    int64_t speechFrames = 0;
    for (int64_t i = 0; i < size; ++i) {
        speechFrames += inSpeech(i) ? 1 : 0;
    }
    for (int64_t i = 0; i < size;) {
        if (heard[i] != 0.0f) {
            ++i;
            continue;
        }
        int64_t end = i;
        while (end < size && heard[end] == 0.0f) {
            ++end;
        }
        if (end - i >= minRun && levelDbfs(heard, i - block, i) >= speechDbfs &&
            levelDbfs(heard, end, end + block) >= speechDbfs) {
            ++holes.runs;
            holes.silentFrames += end - i;
            holes.longestRun = std::max(holes.longestRun, end - i);
        }
        i = end;
    }
    holes.speechSeconds = static_cast<double>(speechFrames) / rate;
    return holes;
}

double levelDbfs(const std::vector<float>& samples, int64_t from, int64_t to) {
    from = std::max<int64_t>(0, from);
    to = std::min<int64_t>(static_cast<int64_t>(samples.size()), to);
    double sum = 0;
    for (int64_t i = from; i < to; ++i) {
        sum += double{samples[i]} * samples[i];
    }
    if (to <= from || sum == 0) {
        return -std::numeric_limits<double>::infinity();
    }
    return 10 * std::log10(sum / static_cast<double>(to - from));
}

}  // namespace earprobe
