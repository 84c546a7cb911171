#include "audio_test_support.h"

#include <cmath>
#include <cstdio>
#include <random>

namespace qeltest {

void RecordingLog::add(int level, int slot, const char* format, va_list args) {
    char text[1024];
    std::vsnprintf(text, sizeof text, format, args);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_lines.push_back({level, slot, text});
}

void RecordingLog::vlog(int level, const char* format, va_list args) {
    add(level, -1, format, args);
}

void RecordingLog::vlogRepeated(int slot, int level, const char* format, va_list args) {
    add(level, slot, format, args);
}

std::vector<RecordingLog::Line> RecordingLog::lines() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_lines;
}

int RecordingLog::count(const std::string& prefix) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    int n = 0;
    for (const Line& l : m_lines) {
        n += l.text.compare(0, prefix.size(), prefix) == 0 ? 1 : 0;
    }
    return n;
}

void RecordingLog::clear() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_lines.clear();
}

std::vector<float> speechLike(int rate, double seconds, uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> uni(0.0, 1.0);
    const size_t n = static_cast<size_t>(rate * seconds);
    std::vector<float> out(n);
    const double pi = 3.14159265358979323846;
    double phase = 0.0;
    size_t syllableEnd = 0;
    double pitch = 140.0;
    double pitchSlope = 0.0;
    double level = 0.0;
    size_t syllableStart = 0;
    for (size_t i = 0; i < n; ++i) {
        if (i >= syllableEnd) {
            syllableStart = i;
            syllableEnd = i + static_cast<size_t>(rate * (0.12 + 0.2 * uni(rng)));
            pitch = 100.0 + 120.0 * uni(rng);
            pitchSlope = (uni(rng) - 0.5) * 200.0;  // Hz per second
            level = uni(rng) < 0.15 ? 0.05 : 0.2 + 0.3 * uni(rng);  // some quiet syllables
        }
        const double t = static_cast<double>(i - syllableStart) / rate;
        const double len = static_cast<double>(syllableEnd - syllableStart) / rate;
        const double env = level * std::sin(pi * t / len);
        const double f0 = pitch + pitchSlope * t;
        phase += 2.0 * pi * f0 / rate;
        double v = 0.0;
        for (int h = 1; h <= 12; ++h) {
            // Formant-like emphasis around 500 Hz and 1.5 kHz.
            const double fh = f0 * h;
            const double g = 1.0 / h + 0.6 * std::exp(-std::pow((fh - 500.0) / 250.0, 2)) +
                             0.4 * std::exp(-std::pow((fh - 1500.0) / 400.0, 2));
            if (fh < rate / 2.0 - 1000.0) {
                v += g * std::sin(h * phase);
            }
        }
        out[i] = static_cast<float>(env * v * 0.35 + 0.002 * (uni(rng) - 0.5));
    }
    return out;
}

std::vector<float> multiTone(int rate, double seconds) {
    const size_t n = static_cast<size_t>(rate * seconds);
    std::vector<float> out(n);
    const double pi = 3.14159265358979323846;
    for (size_t i = 0; i < n; ++i) {
        double v = 0.0;
        for (double f : kToneFrequencies) {
            v += std::sin(2.0 * pi * f * static_cast<double>(i) / rate);
        }
        out[i] = static_cast<float>(0.15 * v);
    }
    return out;
}

double correlationAt(const std::vector<float>& a, size_t aStart, const std::vector<float>& b,
                     size_t bStart, size_t length) {
    double sa = 0, sb = 0, saa = 0, sbb = 0, sab = 0;
    for (size_t i = 0; i < length; ++i) {
        const double x = a[aStart + i];
        const double y = b[bStart + i];
        sa += x;
        sb += y;
        saa += x * x;
        sbb += y * y;
        sab += x * y;
    }
    const double n = static_cast<double>(length);
    const double cov = sab - sa * sb / n;
    const double va = saa - sa * sa / n;
    const double vb = sbb - sb * sb / n;
    if (va <= 0 || vb <= 0) {
        return 0.0;
    }
    return cov / std::sqrt(va * vb);
}

size_t alignByCorrelation(const std::vector<float>& reference, const std::vector<float>& signal,
                          size_t start, size_t length, size_t maxLag, double& best) {
    best = -2.0;
    size_t bestLag = 0;
    for (size_t lag = 0; lag <= maxLag && start + lag + length <= signal.size(); ++lag) {
        const double c = correlationAt(reference, start, signal, start + lag, length);
        if (c > best) {
            best = c;
            bestLag = lag;
        }
    }
    return bestLag;
}

double energy(const std::vector<float>& v, size_t start, size_t end) {
    double e = 0.0;
    for (size_t i = start; i < end && i < v.size(); ++i) {
        e += static_cast<double>(v[i]) * v[i];
    }
    return e;
}

double tonePower(const std::vector<float>& v, int rate, size_t start, size_t n, double f) {
    const double w = 2.0 * 3.14159265358979323846 * f / rate;
    const double coeff = 2.0 * std::cos(w);
    double s1 = 0.0, s2 = 0.0;
    for (size_t i = 0; i < n; ++i) {
        const double s0 = v[start + i] + coeff * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    const double power = s1 * s1 + s2 * s2 - coeff * s1 * s2;
    return power / (static_cast<double>(n) * static_cast<double>(n) / 4.0);
}

bool runBuffer(qel::VoiceAudio& audio, const float* in, int frames, std::vector<float>* played,
               float inputGain, float outputGain) {
    std::vector<float> out(static_cast<size_t>(frames), 0.0f);
    const float* inputs[1] = {in};
    float* outputs[1] = {out.data()};
    const bool ok = audio.audioIO(inputs, 1, inputGain, outputs, 1, outputGain);
    // The poll loop writes what the audio thread counted; here, after every buffer.
    audio.writeAudioMessages();
    if (played) {
        played->insert(played->end(), out.begin(), out.end());
    }
    return ok;
}

std::vector<std::vector<uint8_t>> takePayloads(qel::VoiceAudio& sender) {
    std::vector<std::vector<uint8_t>> payloads;
    for (;;) {
        std::vector<uint8_t> payload(1008);
        const int length = sealFrame(sender, payload.data());
        if (length <= 0) {
            break;
        }
        payload.resize(static_cast<size_t>(length));
        payloads.push_back(std::move(payload));
    }
    return payloads;
}

int sealFrame(qel::VoiceAudio& audio, uint8_t* payload) {
    // As the session's packet builder does: the prefix of the next sequence number is
    // written first, and the number is used up only when a frame went behind it.
    qel::VoiceCipher& cipher = audio.cipher();
    const uint32_t words[2] = {cipher.sendNonceWord(), cipher.sendSequence()};
    for (int w = 0; w < 2; ++w) {
        for (int b = 0; b < 4; ++b) {
            payload[4 * w + b] = static_cast<uint8_t>(words[w] >> (8 * b));  // little-endian
        }
    }
    const int bytes = audio.encodeBehindPrefix(payload);
    if (bytes == qel::VoiceAudio::kNoFrame) {
        return 0;
    }
    uint8_t used[qel::VoiceCipher::kPrefixBytes];
    cipher.seal(used, 0);  // advances the send sequence
    return bytes > 0 ? static_cast<int>(qel::VoiceCipher::kPrefixBytes) + bytes : 0;
}

int relayFrames(qel::VoiceAudio& sender, qel::VoiceAudio& receiver, uint32_t now) {
    int n = 0;
    for (auto& payload : takePayloads(sender)) {
        receiver.onAudioPacket(payload.data(), static_cast<int32_t>(payload.size()), now);
        ++n;
    }
    return n;
}

const uint8_t* testKey() {
    static const uint8_t key[33] = "Zq8wKx1nR4tY7uIo0pLa3sDf6gHj9kMb";
    return key;
}

bool startCallEnd(qel::VoiceAudio& audio, int latency, bool processing) {
    audio.reset();
    audio.cipher().rekey(testKey());
    if (audio.audioSetup(48000, 512, latency) != 2) {
        return false;
    }
    for (int flag = 1; !processing && flag <= 3; ++flag) {
        audio.setFlag(flag, false);
    }
    audio.setLastVoiceReceive(1);
    return true;
}

}  // namespace qeltest
