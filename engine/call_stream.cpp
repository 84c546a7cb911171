#include "engine/call_stream.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace tallix {

void CallStreams::setSession(const SessionApi* api, QelClient* client) noexcept {
    m_api.store(api, std::memory_order_release);
    m_client.store(client, std::memory_order_release);
}

int CallStreams::callback(const void* input, void* output, unsigned long frames,
                          const PaStreamCallbackTimeInfo*, PaStreamCallbackFlags, void* self) {
    auto& streams = *static_cast<CallStreams*>(self);
    streams.m_callbacks.fetch_add(1, std::memory_order_relaxed);
    AudioControls& controls = streams.m_controls;
    const float inputGain = controls.inputMuted.load(std::memory_order_relaxed)
                                ? 0.0f
                                : controls.inputLevel.load(std::memory_order_relaxed);
    const SessionApi* api = streams.m_api.load(std::memory_order_acquire);
    QelClient* client = streams.m_client.load(std::memory_order_acquire);
    const int channels = streams.m_outputChannels;
    if (!controls.callInProgress.load(std::memory_order_acquire) || api == nullptr) {
        // Nothing to play until the call is connected: silence, not stale memory.
        std::memset(output, 0, frames * channels * sizeof(float));
        return paContinue;
    }
    if (controls.loopbackMode.load(std::memory_order_relaxed)) {
        // The session library plays nothing in loopback mode: the device gets silence,
        // not whatever its buffer held.
        api->loopback();
        std::memset(output, 0, frames * channels * sizeof(float));
        return paContinue;
    }
    const float* inputs[1] = {static_cast<const float*>(input)};
    auto* device = static_cast<float*>(output);
    const float level = controls.outputLevel.load(std::memory_order_relaxed);
    if (channels == 1) {
        float* outputs[1] = {device};
        api->audioIO(client, inputs, 1, inputGain, outputs, 1, level);
        return paContinue;
    }
    float* outputs[1] = {streams.m_monoOutput};
    api->audioIO(client, inputs, 1, inputGain, outputs, 1, level);
    // PortAudio hands over exactly the frames asked for; anything beyond them stays silent.
    const unsigned long voiced = std::min<unsigned long>(frames, kFramesPerBuffer);
    for (unsigned long i = 0; i < voiced; ++i) {
        for (int c = 0; c < channels; ++c) {
            device[i * channels + c] = streams.m_monoOutput[i];
        }
    }
    std::memset(device + voiced * channels, 0, (frames - voiced) * channels * sizeof(float));
    return paContinue;
}

int CallStreams::outputChannelsFor(const PaDeviceInfo& device) const noexcept {
    const PaHostApiInfo* host = pa().getHostApiInfo(device.hostApi);
    return host != nullptr && host->type == paWASAPI && device.maxOutputChannels >= 2 ? 2 : 1;
}

void CallStreams::streamFinished(void* self) {
    static_cast<CallStreams*>(self)->m_finished.store(true, std::memory_order_relaxed);
}

int CallStreams::resolve(const char* key, int fallback, const char* direction) {
    const int device = key ? m_registry.lookup(key) : fallback;
    if (device < 0) {
        m_log.log(kWarning, "Failed to find %s device [%s]", direction, key ? key : "default");
    }
    return device;
}

bool CallStreams::anyOpen() const noexcept {
    return m_slots.anyOpen();
}

bool CallStreams::callOpen() const noexcept {
    std::lock_guard lock(m_slots.mutex);
    return m_slots.call != nullptr;
}

Result CallStreams::open(const char* inputKey, const char* outputKey) {
    ChosenDevices chosen(inputKey, outputKey);  // allocates before anything opens
    std::scoped_lock lock(m_slots.mutex, m_slots.portAudio);
    if (const Result result = openLocked(inputKey, outputKey); result != Result::ok) {
        return result;
    }
    announceLocked(false);
    if (const Result result = startLocked(); result != Result::ok) {
        return result;
    }
    m_chosen = std::move(chosen);
    runningLocked();
    return Result::ok;
}

void CallStreams::runningLocked() noexcept {
    m_generation.fetch_add(1, std::memory_order_relaxed);
    m_state.store(CallStreamState::running, std::memory_order_release);
}

Result CallStreams::openLocked(const char* inputKey, const char* outputKey) {
    if (m_slots.anyOpenLocked()) {
        return Result::busy;
    }
    PortAudioReference reference(pa());
    if (const Result result = m_registry.enumerateWith(reference); result != Result::ok) {
        return result;
    }
    m_log.log(kInfo, "Start audio request with devices input: [%s] output: [%s]",
              inputKey ? inputKey : "default", outputKey ? outputKey : "default");
    const int inputDevice = resolve(inputKey, m_registry.defaultInput(), "input");
    if (inputDevice < 0) {
        return Result::deviceNotFound;
    }
    const int outputDevice = resolve(outputKey, m_registry.defaultOutput(), "output");
    if (outputDevice < 0) {
        return Result::deviceNotFound;
    }
    const PaDeviceInfo* inputInfo = pa().getDeviceInfo(inputDevice);
    const PaDeviceInfo* outputInfo = pa().getDeviceInfo(outputDevice);
    if (inputInfo == nullptr || inputInfo->maxInputChannels < 1) {
        m_log.log(kSevere, "Selected input device doesn't support input");
        return Result::deviceNotFound;
    }
    if (outputInfo == nullptr || outputInfo->maxOutputChannels < 1) {
        m_log.log(kSevere, "Selected output device doesn't support output");
        return Result::deviceNotFound;
    }
    PaStreamParameters in{inputDevice, 1, paFloat32, inputInfo->defaultLowInputLatency, nullptr};
    m_outputChannels = outputChannelsFor(*outputInfo);
    PaStreamParameters out{outputDevice, m_outputChannels, paFloat32,
                           outputInfo->defaultLowOutputLatency, nullptr};
    const DeviceEntry* inputEntry = m_registry.entryForDevice(inputDevice);
    const DeviceEntry* outputEntry = m_registry.entryForDevice(outputDevice);
    m_inputName = inputEntry ? inputEntry->name : std::string();
    m_outputName = outputEntry ? outputEntry->name : std::string();
    m_log.log(kInfo, "Using audio devices input: [%s] output: [%s]", m_inputName.c_str(),
              m_outputName.c_str());

    PaError error =
        pa().openStream(&m_slots.call, &in, &out, outputInfo->defaultSampleRate, kFramesPerBuffer,
                        paClipOff | paDitherOff, &CallStreams::callback, this);
    if (error == paInvalidDevice && inputInfo->defaultSampleRate != outputInfo->defaultSampleRate &&
        pa().exclusiveModeInfo(outputInfo->hostApi) != nullptr) {
        if (const Result result = openExclusive(in, out); result != Result::ok) {
            m_slots.call = nullptr;
            return result;
        }
        error = paNoError;
    } else if (error != paNoError) {
        m_log.log(kSevere, "Error while creating audio stream: %s", pa().getErrorText(error));
        m_slots.call = nullptr;
        return Result::failed;
    }
    // A stream that ends by itself (its device failed) says so here; one that goes
    // silent without a word is caught by the call thread's count of its callbacks, so
    // a refusal of the signal only loses the quicker of the two.
    m_finished.store(false, std::memory_order_relaxed);
    (void)pa().setStreamFinishedCallback(m_slots.call, &CallStreams::streamFinished);
    if (const PaStreamInfo* info = pa().getStreamInfo(m_slots.call)) {
        m_log.log(kInfo, "Audio latency - in: %dms out: %dms",
                  static_cast<int>(info->inputLatency * 1000),
                  static_cast<int>(info->outputLatency * 1000));
    }
    reference.keep();
    return Result::ok;
}

Result CallStreams::startLocked() {
    const PaError error = pa().startStream(m_slots.call);
    if (error != paNoError) {
        m_log.log(kSevere, "Error while starting audio stream: %s", pa().getErrorText(error));
        closeLocked();
        return Result::failed;
    }
    return Result::ok;
}

Result CallStreams::openExclusive(PaStreamParameters& in, PaStreamParameters& out) {
    m_log.log(
        kWarning,
        "Failed to create audio streams due to input/output rate mismatch - attempting to grab "
        "in exclusive mode");
    void* exclusive = pa().exclusiveModeInfo(pa().getDeviceInfo(out.device)->hostApi);
    in.hostApiSpecificStreamInfo = exclusive;
    out.hostApiSpecificStreamInfo = exclusive;
    int rate = 0;
    for (const int candidate : kExclusiveRates) {
        if (pa().isFormatSupported(&in, &out, candidate) == paFormatIsSupported) {
            rate = candidate;
            break;
        }
    }
    if (rate == 0) {
        m_log.log(kSevere, "Failed to find a sample rate that works for input & output devices");
        return Result::noCommonRate;
    }
    const PaError error = pa().openStream(&m_slots.call, &in, &out, rate, kFramesPerBuffer,
                                          paClipOff | paDitherOff, &CallStreams::callback, this);
    if (error != paNoError) {
        m_log.log(kSevere, "Failed to create audio streams in exclusive mode: %s",
                  pa().getErrorText(error));
        return Result::exclusiveFailed;
    }
    m_log.log(kInfo, "Grabbed audio devices in exclusive mode at %.2lgkHz", rate / 1000.0);
    return Result::ok;
}

void CallStreams::close() noexcept {
    std::unique_lock lock(m_slots.mutex);
    // A call stream that is lost or restarting has nothing open: the state alone
    // changes, without waiting for PortAudio, which an attempt to reopen it may be
    // holding. That attempt sees the state before it starts a stream.
    if (m_slots.call != nullptr) {
        std::lock_guard portAudio(m_slots.portAudio);
        closeLocked();
    }
    m_state.store(CallStreamState::closed, std::memory_order_release);
}

void CallStreams::closeLocked() noexcept {
    if (m_slots.call == nullptr) {
        return;
    }
    const SlotClosing closing = closeSlot(pa(), m_slots.call);
    if (closing.close != paNoError) {
        m_log.log(kWarning, "Error closing audio stream [%s]", pa().getErrorText(closing.close));
    }
    if (closing.release == paNotInitialized) {
        m_log.log(kWarning, "Error shutting down PortAudio [%s]",
                  pa().getErrorText(paNotInitialized));
    }
}

ClosedCallStream CallStreams::closeForRescan() noexcept {
    std::scoped_lock lock(m_slots.mutex, m_slots.portAudio);
    ClosedCallStream closed;
    if (m_slots.call == nullptr) {
        return closed;
    }
    closed.wasOpen = true;
    closed.inputName = m_inputName;
    closed.outputName = m_outputName;
    m_lostRate = figuresLocked().sampleRate;
    m_state.store(CallStreamState::restarting, std::memory_order_release);
    const SlotClosing closing = closeSlot(pa(), m_slots.call);
    if (closing.close != paNoError) {
        m_log.log(kWarning, "Error occurred while stopping audio stream: %s",
                  pa().getErrorText(closing.close));
    }
    closed.release = closing.release;
    return closed;
}

Result CallStreams::reopen(const std::string& inputName, const std::string& outputName) {
    std::scoped_lock lock(m_slots.mutex, m_slots.portAudio);
    if (m_state.load(std::memory_order_relaxed) != CallStreamState::restarting) {
        // The call ended while the rescan ran: no stream may outlive it.
        return Result::ok;
    }
    // Devices the user picked while the rescan ran win over the ones it closed.
    Result result;
    if (m_choiceDuringRestart) {
        result = openLocked(m_chosen.input ? m_chosen.input->c_str() : nullptr,
                            m_chosen.output ? m_chosen.output->c_str() : nullptr);
    } else {
        result = openLocked(inputName.c_str(), outputName.c_str());
    }
    m_choiceDuringRestart = false;
    if (result == Result::ok) {
        // The device may have come back at another rate; the same rate needs no word.
        if (figuresLocked().sampleRate != m_lostRate) {
            announceLocked(true);
        }
        result = startLocked();
    }
    if (result == Result::ok) {
        runningLocked();
    } else {
        // The device went away under the rescan: the call thread opens the stream
        // again once it is back (or once a default device can be opened).
        m_state.store(CallStreamState::lost, std::memory_order_release);
    }
    return result;
}

void CallStreams::endRestart() noexcept {
    std::lock_guard lock(m_slots.mutex);
    if (m_state.load(std::memory_order_relaxed) == CallStreamState::restarting) {
        m_choiceDuringRestart = false;
        m_state.store(CallStreamState::lost, std::memory_order_release);
    }
}

bool CallStreams::lostAndFree() const {
    std::lock_guard lock(m_slots.mutex);
    return m_state.load(std::memory_order_relaxed) == CallStreamState::lost &&
           !m_slots.anyOpenLocked();
}

CallStreamHealth CallStreams::health() const noexcept {
    return {m_state.load(std::memory_order_acquire), m_generation.load(std::memory_order_relaxed),
            m_callbacks.load(std::memory_order_relaxed),
            m_finished.load(std::memory_order_relaxed)};
}

bool CallStreams::closeLost(uint32_t generation, const char* why) noexcept {
    std::scoped_lock lock(m_slots.mutex, m_slots.portAudio);
    if (m_state.load(std::memory_order_relaxed) != CallStreamState::running ||
        m_generation.load(std::memory_order_relaxed) != generation || m_slots.call == nullptr) {
        return false;
    }
    m_log.log(kWarning,
              "Audio stream lost its device (%s) - the call goes on, the stream reopens once a "
              "device can be opened",
              why);
    m_lostRate = figuresLocked().sampleRate;
    closeLocked();
    m_state.store(CallStreamState::lost, std::memory_order_release);
    return true;
}

Result CallStreams::reopenLost(bool quiet) {
    if (!lostAndFree()) {
        return m_state.load(std::memory_order_acquire) == CallStreamState::lost ? Result::busy
                                                                                : Result::ok;
    }
    // PortAudio lists the hardware when its first reference is taken, which a slow
    // driver can drag out to seconds. That is done with the PortAudio mutex alone, so
    // that an _endCall or a device switch meanwhile does not wait for it; the reference
    // is kept over the opening, which then finds the list made.
    std::unique_lock portAudio(m_slots.portAudio);
    PortAudioReference scan(pa());
    Result result;
    {
        EngineLog::QuietScope quietly(quiet);
        result = m_registry.enumerateWith(scan);
    }
    if (result == Result::ok) {
        portAudio.unlock();
        {
            std::scoped_lock both(m_slots.mutex, m_slots.portAudio);
            result = reopenLostLocked(quiet);
        }
        portAudio.lock();
    }
    (void)scan.release();
    return result;
}

Result CallStreams::reopenLostLocked(bool quiet) {
    if (m_state.load(std::memory_order_relaxed) != CallStreamState::lost) {
        return Result::ok;  // closed or reopened by the host meanwhile
    }
    if (m_slots.anyOpenLocked()) {
        return Result::busy;  // a test tone or sound plays; the call stream waits
    }
    Result result;
    {
        EngineLog::QuietScope quietly(quiet);
        const char* input = m_chosen.input ? m_chosen.input->c_str() : nullptr;
        const char* output = m_chosen.output ? m_chosen.output->c_str() : nullptr;
        result = openLocked(input, output);
        if (result == Result::deviceNotFound && (input != nullptr || output != nullptr)) {
            result = openLocked(nullptr, nullptr);  // the chosen devices are gone
        }
    }
    if (result != Result::ok) {
        return result;
    }
    // Before the stream starts: no audioIO can overlap the announcement.
    if (figuresLocked().sampleRate != m_lostRate) {
        announceLocked(true);
    }
    {
        EngineLog::QuietScope quietly(quiet);
        result = startLocked();
    }
    if (result != Result::ok) {
        return result;
    }
    runningLocked();
    m_log.log(kInfo, "Audio stream reopened after losing its device, on input: [%s] output: [%s]",
              m_inputName.c_str(), m_outputName.c_str());
    return Result::ok;
}

StreamFigures CallStreams::figures() const noexcept {
    std::scoped_lock lock(m_slots.mutex, m_slots.portAudio);
    return figuresLocked();
}

StreamFigures CallStreams::figuresLocked() const noexcept {
    const PaStreamInfo* info = m_slots.call ? pa().getStreamInfo(m_slots.call) : nullptr;
    if (info == nullptr) {
        return {};
    }
    return {static_cast<int>(info->sampleRate), static_cast<int>(kFramesPerBuffer),
            info->inputLatency, info->outputLatency};
}

int latencySamples(const StreamFigures& figures) noexcept {
    if (figures.sampleRate <= 0 || figures.inputLatency < 0 || figures.outputLatency < 0) {
        return 0;
    }
    return static_cast<int>(
        std::lround(figures.sampleRate * (figures.inputLatency + figures.outputLatency)));
}

void CallStreams::announceLocked(bool rateChanged) noexcept {
    const StreamFigures f = figuresLocked();
    if (rateChanged) {
        m_log.log(kFine, "Audio Sample Rate Changed - Sample Rate: %d, Frame Samples: %d",
                  f.sampleRate, f.framesPerBuffer);
    } else {
        m_log.log(kFine, "Audio Setup - Sample Rate: %d, Frame Samples: %d", f.sampleRate,
                  f.framesPerBuffer);
    }
    const SessionApi* api = m_api.load(std::memory_order_acquire);
    if (api != nullptr) {
        // The latency figure is the delay the echo canceller means, in device samples:
        // the stream's capture plus playback latency.
        api->audioSetup(m_client.load(std::memory_order_acquire), f.sampleRate, f.framesPerBuffer,
                        latencySamples(f));
    }
}

Result CallStreams::changeDevices(const char* inputKey, const char* outputKey, bool loopback) {
    m_controls.loopbackMode.store(loopback, std::memory_order_relaxed);
    ChosenDevices chosen(inputKey, outputKey);
    std::unique_lock lock(m_slots.mutex);
    if (m_slots.call == nullptr) {
        // Without an open stream only the choice changes, and PortAudio is not waited
        // for. A stream that waits for its device (lost) or is being reopened by a
        // rescan (restarting) opens on the new devices.
        const CallStreamState state = m_state.load(std::memory_order_relaxed);
        if (state == CallStreamState::lost || state == CallStreamState::restarting) {
            m_chosen = std::move(chosen);
            m_choiceDuringRestart = state == CallStreamState::restarting;
        }
        return Result::ok;
    }
    std::lock_guard portAudio(m_slots.portAudio);
    const int previousRate = figuresLocked().sampleRate;
    closeLocked();
    // Until the new devices run, the call has no stream. Should they fail to open or
    // start, the stream is lost rather than closed: the call thread keeps trying the
    // user's choice (and the defaults when it is gone), as after an unplugged device.
    m_lostRate = previousRate;
    m_chosen = std::move(chosen);
    m_state.store(CallStreamState::lost, std::memory_order_release);
    if (const Result result = openLocked(inputKey, outputKey); result != Result::ok) {
        return result;
    }
    if (figuresLocked().sampleRate != previousRate) {
        announceLocked(true);
    }
    if (const Result result = startLocked(); result != Result::ok) {
        return result;
    }
    runningLocked();
    return Result::ok;
}

}  // namespace tallix
