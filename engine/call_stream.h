// The full-duplex sound stream of a call and the settings its audio callback reads.
#pragma once

#include <atomic>
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
    // the session library when the rate changed. Without a call, only the loopback
    // switch changes.
    [[nodiscard]] Result changeDevices(const char* inputKey, const char* outputKey, bool loopback);

    // Device rescan: closes the call stream, remembering its devices' names, and gives
    // back its library reference; a close failure is logged and does not stop it.
    ClosedCallStream closeForRescan() noexcept;
    // Reopens the call stream on devices found again by name, without telling the
    // session library: the format it knows is the one it had.
    [[nodiscard]] Result reopen(const std::string& inputName, const std::string& outputName);

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

    const PortAudioApi& pa() const noexcept { return m_registry.portAudio(); }
    int resolve(const char* key, int fallback, const char* direction);
    // Opens the call stream without starting it; on success the reference is kept.
    [[nodiscard]] Result openLocked(const char* inputKey, const char* outputKey);
    [[nodiscard]] Result openExclusive(PaStreamParameters& in, PaStreamParameters& out);
    [[nodiscard]] Result startLocked();
    void closeLocked() noexcept;
    StreamFigures figuresLocked() const noexcept;
    void announceLocked(bool rateChanged) noexcept;

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
};

}  // namespace tallix
