#include "bench/call_second.h"

#include <cmath>
#include <cstring>

namespace bench {

namespace {

// One processed frame as the session sends it: prefix, encoded frame, enciphered.
int sealFrame(qel::VoiceAudio& audio, uint8_t* payload) {
    if (audio.path().captureFifo().done() < qel::AudioPath::kFrameSamples) {
        return 0;
    }
    audio.cipher().seal(payload, 0);
    const int bytes = audio.encodeBehindPrefix(payload);
    return bytes > 0 ? static_cast<int>(qel::VoiceCipher::kPrefixBytes) + bytes : 0;
}

std::vector<float> testSignal(size_t n) {
    std::vector<float> v(n);
    for (size_t i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / 48000.0;
        const double env = 0.5 + 0.5 * std::sin(2 * 3.14159265 * 3.0 * t);
        v[i] = static_cast<float>(
            env * 0.2 *
            (std::sin(2 * 3.14159265 * 180 * t) + 0.5 * std::sin(2 * 3.14159265 * 900 * t)));
    }
    return v;
}

}  // namespace

CallSecond::CallSecond(bool processing)
    : m_far(m_log), m_near(m_log), m_signal(testSignal(48000 * 2)), m_out(512) {
    const uint8_t key[33] = "Zq8wKx1nR4tY7uIo0pLa3sDf6gHj9kMb";
    for (qel::VoiceAudio* a : {&m_far, &m_near}) {
        a->reset();
        a->cipher().rekey(key);
        a->audioSetup(48000, 512, 1024);
        a->setLastVoiceReceive(1);
        for (int32_t flag = 1; flag <= 3; ++flag) {
            a->setFlag(flag, processing);
        }
    }
    // The far end's packets for four seconds, made once.
    for (int b = 0; b < 94 * 4; ++b) {
        const float* in[1] = {m_signal.data() + (b * 512) % (m_signal.size() - 512)};
        float* o[1] = {m_out.data()};
        m_far.audioIO(in, 1, 1.0f, o, 1, 1.0f);
        std::vector<std::vector<uint8_t>> group;
        for (;;) {
            std::vector<uint8_t> p(1008);
            const int n = sealFrame(m_far, p.data());
            if (n <= 0) {
                break;
            }
            p.resize(static_cast<size_t>(n));
            group.push_back(p);
        }
        m_farPackets.push_back(group);
    }
}

// Kept out of line so that a profiler can take its inclusive cost apart
// (bench/audio_cost_split.sh looks for callSecond).
__attribute__((noinline)) float CallSecond::second() {
    for (int b = 0; b < 94; ++b, ++m_buffer) {
        const float* in[1] = {m_signal.data() + (m_buffer * 512) % (m_signal.size() - 512)};
        float* o[1] = {m_out.data()};
        m_near.audioIO(in, 1, 1.0f, o, 1, 1.0f);
        for (const auto& p : m_farPackets[m_buffer % m_farPackets.size()]) {
            uint8_t copy[1008];  // deciphered in place: the stored packet stays as sent
            std::memcpy(copy, p.data(), p.size());
            m_near.onAudioPacket(copy, static_cast<int32_t>(p.size()), 1);
        }
        uint8_t payload[1008];
        while (sealFrame(m_near, payload) > 0) {
        }
    }
    return m_out[m_buffer % m_out.size()];
}

}  // namespace bench
