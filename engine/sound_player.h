// Test tone and sound clips outside calls. They share the stream slots with the call
// stream: only one of call, test tone and sound plays at a time.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "engine/device_registry.h"
#include "engine/sound_clip.h"
#include "engine/stream_slots.h"
#include "platform/semaphore.h"

namespace tallix {

// What a device rescan took out of the test-tone or sound slot.
struct ClosedTone {
    std::string deviceName;
    PaError release = paNoError;
};
struct ClosedSound {
    std::string deviceName;
    std::unique_ptr<SoundClip> clip;  // goes on playing from its position
    PaError release = paNoError;
};

class SoundPlayer {
  public:
    static constexpr int kToneLength = 200;  // samples of one sine period
    static constexpr uint32_t kToneMs = 2000;
    static constexpr unsigned long kToneFramesPerBuffer = 512;

    SoundPlayer(StreamSlots& slots, DeviceRegistry& registry, EngineLog& log)
        : m_slots(slots), m_registry(registry), m_log(log) {}
    // Stops a playing sound and the clean-up thread.
    ~SoundPlayer();
    SoundPlayer(const SoundPlayer&) = delete;
    SoundPlayer& operator=(const SoundPlayer&) = delete;

    // Plays one sine period per 200 samples at the device's own rate for two seconds on
    // the calling thread. Null key: the default output device.
    [[nodiscard]] Result playTestTone(const char* deviceKey);
    // Copies the clip and starts it; returns once it plays. A one-shot clip frees itself
    // at its end; a looping one plays until stopSound.
    [[nodiscard]] Result playSound(const char* deviceKey, const uint8_t* bytes, int32_t length,
                                   int32_t sampleRate, bool loop);
    // Starts `clip` from its position; resamples it first if the device refuses its
    // rate. The clip is released unless it ends up playing.
    [[nodiscard]] Result startClip(const char* deviceKey, std::unique_ptr<SoundClip> clip);
    // Stops the playing sound; when this returns the slot is free again.
    [[nodiscard]] Result stopSound();
    bool soundPlaying() const;

    // Device rescan: close the stream of the slot, keeping what is needed to start it
    // again; the sound's clip is neither freed nor ended.
    std::optional<ClosedTone> closeToneForRescan() noexcept;
    std::optional<ClosedSound> closeSoundForRescan() noexcept;

  private:
    // Audio thread callbacks.
    static int toneCallback(const void*, void* output, unsigned long frames,
                            const PaStreamCallbackTimeInfo*, PaStreamCallbackFlags, void* self);
    static int soundCallback(const void*, void* output, unsigned long frames,
                             const PaStreamCallbackTimeInfo*, PaStreamCallbackFlags, void* clip);
    // Called by PortAudio once the sound stream has finished, on the audio thread: it
    // only wakes the clean-up thread, which must not be this one.
    static void soundFinished(void* clip);

    const PortAudioApi& pa() const noexcept { return m_registry.portAudio(); }
    // Takes a reference and enumerates; finds the output device for `key`.
    [[nodiscard]] Result outputDevice(PortAudioReference& reference, const char* key,
                                      const char* inputDeviceMessage, int& device);
    // Closes the sound stream, gives back its reference, frees the clip, clears the slot.
    void finishSoundLocked() noexcept;
    void cleanUpFinishedSounds();
    void cleanUpLoop();
    void ensureCleanUpThread();

    StreamSlots& m_slots;
    DeviceRegistry& m_registry;
    EngineLog& m_log;

    // Test tone: rebuilt for every tone; the index carries over between buffers.
    float m_toneTable[kToneLength] = {};
    int m_toneIndex = 0;
    uint64_t m_toneSerial = 0;  // which tone owns the slot
    std::string m_toneDevice;

    std::unique_ptr<SoundClip> m_clip;  // the slot owns the playing clip
    std::string m_soundDevice;
    uint64_t m_nextSerial = 0;

    std::thread m_cleanUp;
    platform::Semaphore m_wake;  // not std::counting_semaphore: see platform/semaphore.h
    std::atomic<uint64_t> m_finishedSerial{0};
    std::atomic<bool> m_quit{false};
};

}  // namespace tallix
