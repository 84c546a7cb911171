#include "tools/qel-server/conference.h"

#include <algorithm>
#include <array>

namespace qelserver {

bool Conference::join(const std::string& pin, uint32_t token, const std::string& key, bool primed) {
    if (!m_factory) {
        return false;
    }
    std::unique_ptr<VoiceChannel> channel = m_factory(key);
    if (!channel) {
        return false;
    }
    m_participants[token] = Participant{pin, std::move(channel), {}, primed};
    return true;
}

void Conference::leave(uint32_t token) {
    m_participants.erase(token);
}

size_t Conference::roomSize(const std::string& pin) const {
    return static_cast<size_t>(std::count_if(m_participants.begin(), m_participants.end(),
                                             [&](const auto& p) { return p.second.pin == pin; }));
}

void Conference::receive(uint32_t token, uint8_t* payload, size_t length) {
    auto it = m_participants.find(token);
    if (it == m_participants.end()) {
        return;
    }
    Participant& p = it->second;
    p.primed = false;
    std::vector<int16_t> frame(VoiceChannel::kFrameSamples);
    if (!p.channel->decode(payload, length, frame.data())) {
        return;
    }
    if (p.frames.size() >= kMaxQueuedFrames) {
        p.frames.pop_front();
    }
    p.frames.push_back(std::move(frame));
}

void Conference::mix(const Emit& emit) {
    // Take this step's frame of every participant first, so that each listener's mix is
    // made of the same frames.
    std::map<uint32_t, std::vector<int16_t>> current;
    for (auto& [token, p] : m_participants) {
        if (!p.frames.empty()) {
            current[token] = std::move(p.frames.front());
            p.frames.pop_front();
        }
    }
    std::vector<const std::vector<int16_t>*> voices;
    std::array<int32_t, VoiceChannel::kFrameSamples> sum;
    std::array<int16_t, VoiceChannel::kFrameSamples> pcm;
    std::array<uint8_t, 1024> payload;
    for (auto& [listener, p] : m_participants) {
        voices.clear();
        for (const auto& [speaker, frame] : current) {
            if (speaker != listener && m_participants.at(speaker).pin == p.pin) {
                voices.push_back(&frame);
            }
        }
        // Silence and a single voice need no sum: only two or more voices can clip.
        if (voices.empty()) {
            if (!p.primed) {
                continue;
            }
            pcm.fill(0);
        } else if (voices.size() == 1) {
            std::copy(voices[0]->begin(), voices[0]->end(), pcm.begin());
        } else {
            sum.fill(0);
            for (const std::vector<int16_t>* frame : voices) {
                for (size_t i = 0; i < sum.size(); ++i) {
                    sum[i] += (*frame)[i];
                }
            }
            for (size_t i = 0; i < sum.size(); ++i) {
                pcm[i] = static_cast<int16_t>(std::clamp(sum[i], -32768, 32767));
            }
        }
        const size_t length = p.channel->encode(pcm.data(), payload.data(), payload.size());
        if (length > 0) {
            emit(listener, payload.data(), length);
        }
    }
}

}  // namespace qelserver
