// The person at the sound card, as a JACK client of the sound server: its output port
// "out" is the engine's microphone, its input port "in" the engine's speaker (the ALSA
// jack PCM names them in place of system:*). Both run on the server's one clock, so a
// sound written at frame n and heard at frame m took m - n of the server's frames,
// device buffering included.
//
// The process callback only copies: it plays a prepared signal, records what it hears
// into a buffer sized up front, and can add what it hears back into what it plays (a
// speaker beside the microphone). No allocation, lock or I/O there.
#pragma once

#include <jack/jack.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace earprobe {

class JackProbe {
  public:
    // Opens the client `name` on the server of JACK_DEFAULT_SERVER; check ok().
    explicit JackProbe(const std::string& name);
    ~JackProbe();
    JackProbe(const JackProbe&) = delete;
    JackProbe& operator=(const JackProbe&) = delete;

    bool ok() const { return m_client != nullptr; }
    const std::string& error() const { return m_error; }
    int rate() const { return m_rate; }
    int period() const { return m_period; }
    std::string portName(const char* port) const;

    // Before start(): what to play from the first recorded frame on (its length is the
    // length of the recording), and the speaker-to-microphone path: what is heard comes
    // back into the microphone `delayFrames` later at `gain` (0: none).
    void prepare(std::vector<float> mic, int delayFrames, float gain);
    bool activate();
    // Both ports connected to someone.
    bool connected() const;
    // From the next period on: play and record until the prepared length is done.
    void start() { m_armed.store(true, std::memory_order_release); }
    bool finished() const { return m_done.load(std::memory_order_acquire); }
    // The server's xruns (a client, the engine's among them, late for its period) since
    // start(): each may shift the paths the probe measures.
    int xruns() const { return m_xruns.load(std::memory_order_relaxed); }
    // Frames recorded so far (the callback's count, read once it stopped or finished).
    int64_t recorded() const { return m_recorded.load(std::memory_order_acquire); }

    // After finished() (or after stop()): what went into the microphone (the prepared
    // signal plus the speaker's echo) and what the speaker played.
    void stop();
    const std::vector<float>& mic() const { return m_sent; }
    const std::vector<float>& heard() const { return m_heard; }
    const std::vector<float>& echo() const { return m_echo; }

  private:
    static int process(jack_nframes_t frames, void* self);
    int process(jack_nframes_t frames);
    static int xrun(void* self);

    jack_client_t* m_client = nullptr;
    jack_port_t* m_out = nullptr;
    jack_port_t* m_in = nullptr;
    std::string m_error;
    int m_rate = 0;
    int m_period = 0;
    std::vector<float> m_play;
    std::vector<float> m_sent;
    std::vector<float> m_heard;
    std::vector<float> m_echo;  // the speaker's part of m_sent
    std::vector<float> m_delay;
    size_t m_delayPos = 0;
    float m_gain = 0;
    std::atomic<bool> m_armed{false};
    std::atomic<bool> m_done{false};
    std::atomic<int64_t> m_recorded{0};
    std::atomic<int> m_xruns{0};
};

// A second client that passes "in" to "out" `frames` later: a known path for checking
// the probe itself.
class JackDelay {
  public:
    JackDelay(const std::string& name, int frames);
    ~JackDelay();
    JackDelay(const JackDelay&) = delete;
    JackDelay& operator=(const JackDelay&) = delete;
    bool ok() const { return m_client != nullptr; }
    std::string portName(const char* port) const;
    jack_client_t* client() const { return m_client; }

  private:
    static int process(jack_nframes_t frames, void* self);

    jack_client_t* m_client = nullptr;
    jack_port_t* m_out = nullptr;
    jack_port_t* m_in = nullptr;
    std::vector<float> m_ring;
    size_t m_pos = 0;
};

}  // namespace earprobe
