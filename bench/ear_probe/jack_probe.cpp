#include "bench/ear_probe/jack_probe.h"

#include <algorithm>
#include <cstring>

namespace earprobe {

namespace {

jack_client_t* openClient(const std::string& name, std::string& error) {
    jack_status_t status{};
    jack_client_t* client = jack_client_open(name.c_str(), JackNoStartServer, &status);
    if (client == nullptr) {
        error = "cannot open JACK client " + name + " (status 0x" + std::to_string(status) +
                "); is the sound server running and JACK_DEFAULT_SERVER set?";
    } else if ((status & JackNameNotUnique) != 0) {
        error = "a JACK client named " + name + " is already there";
        jack_client_close(client);
        client = nullptr;
    }
    return client;
}

}  // namespace

JackProbe::JackProbe(const std::string& name) {
    m_client = openClient(name, m_error);
    if (m_client == nullptr) {
        return;
    }
    m_rate = static_cast<int>(jack_get_sample_rate(m_client));
    m_period = static_cast<int>(jack_get_buffer_size(m_client));
    m_out = jack_port_register(m_client, "out", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
    m_in = jack_port_register(m_client, "in", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
    if (m_out == nullptr || m_in == nullptr) {
        m_error = "cannot register the probe's ports";
        jack_client_close(m_client);
        m_client = nullptr;
        return;
    }
    jack_set_process_callback(m_client, &JackProbe::process, this);
    jack_set_xrun_callback(m_client, &JackProbe::xrun, this);
}

int JackProbe::xrun(void* self) {
    auto& probe = *static_cast<JackProbe*>(self);
    if (probe.m_armed.load(std::memory_order_acquire) &&
        !probe.m_done.load(std::memory_order_acquire)) {
        probe.m_xruns.fetch_add(1, std::memory_order_relaxed);
    }
    return 0;
}

JackProbe::~JackProbe() {
    stop();
}

void JackProbe::stop() {
    if (m_client != nullptr) {
        jack_deactivate(m_client);
        jack_client_close(m_client);
        m_client = nullptr;
    }
    const auto n = static_cast<size_t>(m_recorded.load());
    m_sent.resize(std::min(n, m_sent.size()));
    m_heard.resize(std::min(n, m_heard.size()));
    m_echo.resize(std::min(n, m_echo.size()));
}

std::string JackProbe::portName(const char* port) const {
    return std::string(jack_get_client_name(m_client)) + ":" + port;
}

void JackProbe::prepare(std::vector<float> mic, int delayFrames, float gain) {
    m_play = std::move(mic);
    m_sent.assign(m_play.size(), 0.0f);
    m_heard.assign(m_play.size(), 0.0f);
    m_echo.assign(m_play.size(), 0.0f);
    m_delay.assign(static_cast<size_t>(std::max(1, delayFrames)), 0.0f);
    m_gain = gain;
}

bool JackProbe::activate() {
    return jack_activate(m_client) == 0;
}

bool JackProbe::connected() const {
    return jack_port_connected(m_out) > 0 && jack_port_connected(m_in) > 0;
}

int JackProbe::process(jack_nframes_t frames, void* self) {
    return static_cast<JackProbe*>(self)->process(frames);
}

int JackProbe::process(jack_nframes_t frames) {
    auto* out = static_cast<float*>(jack_port_get_buffer(m_out, frames));
    const auto* in = static_cast<const float*>(jack_port_get_buffer(m_in, frames));
    const bool running = m_armed.load(std::memory_order_acquire) && !m_done.load();
    int64_t at = m_recorded.load(std::memory_order_relaxed);
    for (jack_nframes_t i = 0; i < frames; ++i) {
        // The speaker reaches the microphone one delay line later, always, as in a room.
        const float echo = m_gain * m_delay[m_delayPos];
        m_delay[m_delayPos] = in[i];
        m_delayPos = (m_delayPos + 1) % m_delay.size();
        float sample = echo;
        if (running && at < static_cast<int64_t>(m_play.size())) {
            sample += m_play[at];
            m_sent[at] = sample;
            m_heard[at] = in[i];
            m_echo[at] = echo;
            ++at;
        }
        out[i] = sample;
    }
    if (running) {
        m_recorded.store(at, std::memory_order_release);
        if (at >= static_cast<int64_t>(m_play.size())) {
            m_done.store(true, std::memory_order_release);
        }
    }
    return 0;
}

JackDelay::JackDelay(const std::string& name, int frames) : m_ring(static_cast<size_t>(frames)) {
    std::string error;
    m_client = openClient(name, error);
    if (m_client == nullptr) {
        return;
    }
    m_out = jack_port_register(m_client, "out", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
    m_in = jack_port_register(m_client, "in", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
    jack_set_process_callback(m_client, &JackDelay::process, this);
    if (m_out == nullptr || m_in == nullptr || jack_activate(m_client) != 0) {
        jack_client_close(m_client);
        m_client = nullptr;
    }
}

JackDelay::~JackDelay() {
    if (m_client != nullptr) {
        jack_deactivate(m_client);
        jack_client_close(m_client);
    }
}

std::string JackDelay::portName(const char* port) const {
    return std::string(jack_get_client_name(m_client)) + ":" + port;
}

int JackDelay::process(jack_nframes_t frames, void* self) {
    auto& d = *static_cast<JackDelay*>(self);
    auto* out = static_cast<float*>(jack_port_get_buffer(d.m_out, frames));
    const auto* in = static_cast<const float*>(jack_port_get_buffer(d.m_in, frames));
    if (d.m_ring.empty()) {
        std::memcpy(out, in, frames * sizeof(float));
        return 0;
    }
    for (jack_nframes_t i = 0; i < frames; ++i) {
        out[i] = d.m_ring[d.m_pos];
        d.m_ring[d.m_pos] = in[i];
        d.m_pos = (d.m_pos + 1) % d.m_ring.size();
    }
    return 0;
}

}  // namespace earprobe
