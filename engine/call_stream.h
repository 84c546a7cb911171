// The full-duplex sound stream of a call and the settings its audio callback reads.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

#include "engine/device_registry.h"
#include "engine/session_api.h"
#include "engine/stream_slots.h"

namespace tallix {

// Written by Java threads and the call thread, read by the audio callback. Each is one
// atomic word: a change takes effect at the next device buffer. Relaxed order is enough
// because no other memory is published through them.
struct AudioControls {
    std::atomic<float> inputLevel{1.0f};
    std::atomic<float> outputLevel{1.0f};
    std::atomic<bool> inputMuted{false};
    std::atomic<bool> loopbackMode{false};
    std::atomic<bool> callInProgress{false};  // audio flows only while the call is connected
};

// Sample rate, buffer size and latencies of the open stream.
struct StreamFigures {
    int sampleRate = -1;
    int framesPerBuffer = -1;
    double inputLatency = -1.0;   // seconds
    double outputLatency = -1.0;  // seconds
};

// What the session library is told as the stream's latency: input plus output latency
// in device samples (rate x seconds), 0 without an open stream.
int latencySamples(const StreamFigures& figures) noexcept;

// Where the call stream stands, for the call thread's watchdog (stream_watchdog.h).
enum class CallStreamState : uint8_t {
    closed,      // no call stream wanted: no call, or the host closed it
    running,     // open and started
    restarting,  // a device rescan closed it and opens it again
    lost         // its device went away; to be opened again once a device can be
};

// What the watchdog reads of the call stream without taking a lock.
struct CallStreamHealth {
    CallStreamState state = CallStreamState::closed;
    uint32_t generation = 0;  // counts the openings: a new stream starts a new count
    uint32_t callbacks = 0;   // audio callbacks of the open stream so far
    bool finished = false;    // PortAudio said that the stream has ended by itself
};

// The devices of a call stream that a device rescan closed, by name.
struct ClosedCallStream {
    bool wasOpen = false;
    std::string inputName;
    std::string outputName;
    PaError release = paNoError;  // what giving back its library reference answered
};

// The call stream in the call slot. Its openings and closings are ordered by the slots'
// mutex (an _endCall on a Java thread can meet the call thread's own clean-up).
class CallStreams {
  public:
    static constexpr unsigned long kFramesPerBuffer = 512;
    static constexpr int kExclusiveRates[] = {48000, 44100, 32000, 22050, 16000, 11025, 8000};

    CallStreams(StreamSlots& slots, DeviceRegistry& registry, EngineLog& log,
                AudioControls& controls)
        : m_slots(slots), m_registry(registry), m_log(log), m_controls(controls) {}
    ~CallStreams() { close(); }
    CallStreams(const CallStreams&) = delete;
    CallStreams& operator=(const CallStreams&) = delete;

    // The session client that the callback feeds. Set before a stream opens.
    void setSession(const SessionApi* api, QelClient* client) noexcept;

    // Opens and starts the call stream on the devices that the keys name (null: the
    // default device). On success the stream holds one PortAudio reference.
    // The session library is told the stream's format (audioSetup) before the stream
    // starts, so audioSetup never overlaps an audioIO of the same client.
    [[nodiscard]] Result open(const char* inputKey, const char* outputKey);
    // Closes the call stream if one is open; waits for a running callback to return.
    void close() noexcept;

    bool anyOpen() const noexcept;
    bool callOpen() const noexcept;
    StreamFigures figures() const noexcept;

    // Device switch during a call: reopens the call stream on the new devices and tells
    // the session library when the rate changed; when they cannot be opened the stream
    // is lost, and the call thread keeps trying them. A stream that is lost or being
    // restarted keeps the choice for its reopening. Without a call, only the loopback
    // switch changes.
    [[nodiscard]] Result changeDevices(const char* inputKey, const char* outputKey, bool loopback);

    // Device rescan: closes the call stream, remembering its devices' names, and gives
    // back its library reference; a close failure is logged and does not stop it.
    ClosedCallStream closeForRescan() noexcept;
    // Reopens the call stream on devices found again by name (or on the devices the
    // host chose while the rescan ran), telling the session library the format only
    // when the rate changed. A stream that cannot be reopened is left lost, for the
    // call thread to open again later; one whose call ended meanwhile stays closed.
    [[nodiscard]] Result reopen(const std::string& inputName, const std::string& outputName);
    // The end of a rescan, on every way out of it: a call stream still restarting (the
    // rescan failed before it could reopen it) becomes lost, for the call thread to
    // reopen. Never left restarting, which nothing would ever end.
    void endRestart() noexcept;

    // A lost device. Any thread may read health(); closeLost() and reopenLost() run on
    // the call thread only, between two polls of the session.
    CallStreamHealth health() const noexcept;
    // Closes the stream of `generation` if it is still the open one and marks the call
    // stream lost; `why` goes into the log. False when the stream has been closed or
    // replaced in the meantime.
    bool closeLost(uint32_t generation, const char* why) noexcept;
    // Opens a lost call stream again on the devices the host chose last, or on the
    // default devices when those are gone; tells the session library the format when
    // the rate changed. ok once it runs again; busy while another stream holds the
    // slots; otherwise the failure, and the stream stays lost.
    // `quiet`: the attempt's own messages are dropped (a retry that fails as the
    // first did); a reopening and a new format are logged either way.
    [[nodiscard]] Result reopenLost(bool quiet);

  private:
    // Real-time code, on PortAudio's audio thread: no allocation, lock, log, JNI or
    // wait of its own; it reads only atomics and calls the session library's audioIO.
    static int callback(const void* input, void* output, unsigned long frames,
                        const PaStreamCallbackTimeInfo*, PaStreamCallbackFlags, void* self);
    // Output channels of a call stream on this device: the voice is mono, but a WASAPI
    // stream of one channel is a front-centre stream, which Wine's ALSA driver opens as
    // channel 4 of five (seen: a fifth of the level once ALSA mixed them down to the
    // sound server's one port, 14 dB); a stereo stream, the device's own mix format,
    // carries the voice unchanged on both channels. Other host APIs keep one channel.
    int outputChannelsFor(const PaDeviceInfo& device) const noexcept;
    // PortAudio's end-of-stream signal, on its audio thread or the closing thread.
    static void streamFinished(void* self);

    const PortAudioApi& pa() const noexcept { return m_registry.portAudio(); }
    int resolve(const char* key, int fallback, const char* direction);
    // Opens the call stream without starting it; on success the reference is kept.
    [[nodiscard]] Result openLocked(const char* inputKey, const char* outputKey);
    [[nodiscard]] Result openExclusive(PaStreamParameters& in, PaStreamParameters& out);
    [[nodiscard]] Result startLocked();
    void closeLocked() noexcept;
    StreamFigures figuresLocked() const noexcept;
    void announceLocked(bool rateChanged) noexcept;
    // The stream that has just opened and started is the running one.
    void runningLocked() noexcept;
    // Whether the call stream is lost and no other stream holds the slots.
    bool lostAndFree() const;
    // The opening part of reopenLost, with both mutexes held.
    [[nodiscard]] Result reopenLostLocked(bool quiet);

    // The device keys the host chose for the call (none: the default device).
    struct ChosenDevices {
        ChosenDevices() = default;
        ChosenDevices(const char* inputKey, const char* outputKey)
            : input(inputKey ? std::optional<std::string>(inputKey) : std::nullopt),
              output(outputKey ? std::optional<std::string>(outputKey) : std::nullopt) {}
        std::optional<std::string> input;
        std::optional<std::string> output;
    };

    StreamSlots& m_slots;
    DeviceRegistry& m_registry;
    EngineLog& m_log;
    AudioControls& m_controls;
    std::atomic<const SessionApi*> m_api{nullptr};
    std::atomic<QelClient*> m_client{nullptr};
    std::string m_inputName;  // of the open call stream's devices
    std::string m_outputName;
    // Of the open stream: written before it starts, read by its callback. With two
    // channels the session library's mono buffer goes to both.
    int m_outputChannels = 1;
    float m_monoOutput[kFramesPerBuffer] = {};

    // Lost-device state. Written with the slots' mutex held; the atomics are also read
    // without it (health()). The callback counts and the finished signal are stores of
    // the audio thread that publish nothing else: relaxed order.
    std::atomic<CallStreamState> m_state{CallStreamState::closed};
    std::atomic<uint32_t> m_generation{0};
    std::atomic<uint32_t> m_callbacks{0};
    std::atomic<bool> m_finished{false};
    // The devices the host chose and the rate of the stream before it was lost.
    ChosenDevices m_chosen;
    int m_lostRate = -1;
    // The host chose devices while a rescan had the stream closed (restarting).
    bool m_choiceDuringRestart = false;
};

}  // namespace tallix
