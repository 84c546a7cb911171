// The cached list of sound devices that the Java host sees, and the text keys by which
// it names them.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "engine/engine_log.h"
#include "engine/portaudio_api.h"
#include "engine/result.h"

namespace tallix {

struct DeviceEntry {
    int index = 0;     // position in the host API's device list
    int device = 0;    // PortAudio device number used to open streams
    std::string name;  // at most kMaxNameLength bytes
    std::string key;   // "name|II|II|OO"
    int maxInputChannels = 0;
    int maxOutputChannels = 0;
    bool isInput = false;
    bool isOutput = false;
    bool isDefaultInput = false;
    bool isDefaultOutput = false;
};

// "%s|%02d|%02d|%02d" of name, index, input and output channel counts.
std::string makeDeviceKey(const std::string& name, int index, int inputs, int outputs);

// Holds one PortAudio reference for a scope. PortAudio enumerates the hardware only
// when its reference count goes from 0 to 1, so every operation takes its own reference
// and gives it back before it returns.
class PortAudioReference {
  public:
    PortAudioReference(const PortAudioApi& pa) noexcept : m_pa(pa), m_error(pa.initialize()) {}
    ~PortAudioReference() { release(); }
    PortAudioReference(const PortAudioReference&) = delete;
    PortAudioReference& operator=(const PortAudioReference&) = delete;

    bool held() const noexcept { return m_error == paNoError; }
    PaError error() const noexcept { return m_error; }
    // Gives the reference back now; the result of Pa_Terminate (paNoError if not held).
    PaError release() noexcept;
    // Hands the reference to an open stream, which gives it back when it closes.
    void keep() noexcept { m_error = paNotInitialized; }

  private:
    const PortAudioApi& m_pa;
    PaError m_error;
};

// Registry operations run on Java threads and on the call thread's clean-up, never two
// at once (the host's rule); the registry takes no lock.
class DeviceRegistry {
  public:
    static constexpr size_t kMaxNameLength = 254;
    static constexpr size_t kMaxKeyLength = 263;

    DeviceRegistry(const PortAudioApi& pa, EngineLog& log) : m_pa(&pa), m_log(log) {}

    // Replaces the list with the chosen host API's devices. Needs a reference held.
    [[nodiscard]] Result enumerate();
    // The opening of every stream and rescan: checks that `reference` was taken (else
    // logs "Error while initialising PortAudio") and enumerates.
    [[nodiscard]] Result enumerateWith(const PortAudioReference& reference);
    // The device number a key names, or -1.
    int lookup(const std::string& key) const;
    // First start: take a reference, enumerate, choose the default host API, log the
    // host APIs, give the reference back.
    [[nodiscard]] Result probe();

    const std::vector<DeviceEntry>& devices() const noexcept { return m_devices; }
    const DeviceEntry* entryForDevice(int device) const noexcept;
    int defaultInput() const noexcept { return m_defaultInput; }
    int defaultOutput() const noexcept { return m_defaultOutput; }
    const PortAudioApi& portAudio() const noexcept { return *m_pa; }
    void setPortAudio(const PortAudioApi& pa) noexcept { m_pa = &pa; }

  private:
    const PortAudioApi* m_pa;
    EngineLog& m_log;
    std::vector<DeviceEntry> m_devices;
    PaHostApiIndex m_hostApi = 0;
    int m_defaultInput = -1;
    int m_defaultOutput = -1;
};

}  // namespace tallix
