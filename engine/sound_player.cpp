#include "engine/sound_player.h"

#include <cmath>

#include "engine/guarded.h"
#include "platform/clock.h"

namespace tallix {

namespace {

constexpr float kPi = 3.14159265f;

}  // namespace

SoundPlayer::~SoundPlayer() {
    {
        std::scoped_lock lock(m_slots.mutex, m_slots.portAudio);
        if (m_slots.sound != nullptr) {
            (void)pa().stopStream(m_slots.sound);
            finishSoundLocked();
        }
    }
    if (m_cleanUp.joinable()) {
        m_quit.store(true);
        m_wake.release();
        m_cleanUp.join();
    }
}

int SoundPlayer::toneCallback(const void*, void* output, unsigned long frames,
                              const PaStreamCallbackTimeInfo*, PaStreamCallbackFlags, void* self) {
    auto& player = *static_cast<SoundPlayer*>(self);
    auto* out = static_cast<float*>(output);
    int index = player.m_toneIndex;
    for (unsigned long i = 0; i < frames; ++i) {
        out[i] = player.m_toneTable[index];
        index = index + 1 == kToneLength ? 0 : index + 1;
    }
    player.m_toneIndex = index;
    return paContinue;
}

int SoundPlayer::soundCallback(const void*, void* output, unsigned long frames,
                               const PaStreamCallbackTimeInfo*, PaStreamCallbackFlags,
                               void* clip) {
    return fillFromClip(*static_cast<SoundClip*>(clip), static_cast<int16_t*>(output), frames)
               ? paContinue
               : paComplete;
}

void SoundPlayer::soundFinished(void* data) {
    // The clip is alive here: nobody frees it before its stream is closed, and closing
    // waits for this handler. The clean-up thread decides whether the slot still holds
    // this playing of it.
    const auto* clip = static_cast<const SoundClip*>(data);
    SoundPlayer* player = clip->owner;
    player->m_finishedSerial.store(clip->serial, std::memory_order_release);
    player->m_wake.release();
}

Result SoundPlayer::outputDevice(PortAudioReference& reference, const char* key,
                                 const char* inputDeviceMessage, int& device) {
    if (const Result result = m_registry.enumerateWith(reference); result != Result::ok) {
        return result;
    }
    device = key ? m_registry.lookup(key) : m_registry.defaultOutput();
    if (device < 0) {
        return Result::deviceNotFound;
    }
    const PaDeviceInfo* info = pa().getDeviceInfo(device);
    if (info == nullptr || info->maxOutputChannels < 1) {
        m_log.log(kSevere, "%s", inputDeviceMessage);
        return Result::deviceNotFound;
    }
    return Result::ok;
}

Result SoundPlayer::playTestTone(const char* deviceKey) {
    uint64_t serial = 0;
    {
        std::scoped_lock lock(m_slots.mutex, m_slots.portAudio);
        if (m_slots.anyOpenLocked()) {
            return Result::busy;
        }
        for (int i = 0; i < kToneLength; ++i) {
            m_toneTable[i] = std::sin(2 * kPi * static_cast<float>(i) / kToneLength);
        }
        m_toneIndex = 0;
        PortAudioReference reference(pa());
        int device = -1;
        if (const Result result = outputDevice(
                reference, deviceKey, "Attempting to play test tone using an input device", device);
            result != Result::ok) {
            return result;
        }
        const PaDeviceInfo* info = pa().getDeviceInfo(device);
        const PaStreamParameters out{device, 1, paFloat32, info->defaultLowOutputLatency,
                                     nullptr};
        PaStream* stream = nullptr;
        PaError error = pa().openStream(&stream, nullptr, &out, info->defaultSampleRate,
                                        kToneFramesPerBuffer, paClipOff | paDitherOff,
                                        &SoundPlayer::toneCallback, this);
        if (error != paNoError) {
            m_log.log(kSevere, "Error while creating audio stream: %s", pa().getErrorText(error));
            return Result::failed;
        }
        if (error = pa().startStream(stream); error != paNoError) {
            m_log.log(kSevere, "Error while starting audio stream: %s", pa().getErrorText(error));
            (void)pa().closeStream(stream);
            return Result::failed;
        }
        reference.keep();
        m_slots.testTone = stream;
        serial = ++m_toneSerial;
        const DeviceEntry* entry = m_registry.entryForDevice(device);
        m_toneDevice = entry ? entry->name : std::string();
    }

    platform::sleepMs(kToneMs);

    std::scoped_lock lock(m_slots.mutex, m_slots.portAudio);
    if (m_slots.testTone == nullptr || m_toneSerial != serial) {
        return Result::ok;  // a device rescan took this tone over and ended it
    }
    (void)pa().stopStream(m_slots.testTone);
    if (closeSlot(pa(), m_slots.testTone).release == paNotInitialized) {
        m_log.log(kWarning, "Error while shutting down PortAudio: %s",
                  pa().getErrorText(paNotInitialized));
    }
    return Result::ok;
}

Result SoundPlayer::playSound(const char* deviceKey, const uint8_t* bytes, int32_t length,
                              int32_t sampleRate, bool loop) {
    if (length < 0 || (bytes == nullptr && length > 0) || sampleRate <= 0) {
        m_log.log(kSevere, "Refused sound clip of %d bytes at %d Hz", static_cast<int>(length),
                  static_cast<int>(sampleRate));
        return Result::failed;
    }
    auto clip = std::make_unique<SoundClip>();
    clip->bytes.assign(bytes, bytes + length);
    clip->sampleRate = sampleRate;
    clip->loop = loop;
    return startClip(deviceKey, std::move(clip));
}

Result SoundPlayer::startClip(const char* deviceKey, std::unique_ptr<SoundClip> clip) {
    std::scoped_lock lock(m_slots.mutex, m_slots.portAudio);
    if (m_slots.anyOpenLocked()) {
        return Result::busy;
    }
    PortAudioReference reference(pa());
    int device = -1;
    if (const Result result = outputDevice(reference, deviceKey,
                                           "Attempting to play a sound using an input device",
                                           device);
        result != Result::ok) {
        return result;
    }
    const PaDeviceInfo* info = pa().getDeviceInfo(device);
    const PaStreamParameters out{device, 1, paInt16, info->defaultHighOutputLatency, nullptr};
    if (pa().isFormatSupported(nullptr, &out, clip->sampleRate) == paInvalidSampleRate) {
        const int target = static_cast<int>(info->defaultSampleRate);
        m_log.log(kFine, "Resampling sound clip from %d Hz to %d Hz",
                  static_cast<int>(clip->sampleRate), target);
        if (!resampleClip(*clip, target)) {
            m_log.log(kSevere, "Error resampling sound clip to %d Hz", target);
            return Result::failed;
        }
    }
    clip->owner = this;
    clip->serial = ++m_nextSerial;
    ensureCleanUpThread();

    PaStream* stream = nullptr;
    PaError error = pa().openStream(&stream, nullptr, &out, clip->sampleRate,
                                    paFramesPerBufferUnspecified, paClipOff | paDitherOff,
                                    &SoundPlayer::soundCallback, clip.get());
    if (error != paNoError) {
        m_log.log(kSevere, "Error opening sound stream [%s]", pa().getErrorText(error));
        return Result::failed;
    }
    if (error = pa().setStreamFinishedCallback(stream, &SoundPlayer::soundFinished);
        error != paNoError) {
        m_log.log(kSevere, "Error resgistering stream end callback [%s]",
                  pa().getErrorText(error));
        (void)pa().closeStream(stream);
        return Result::failed;
    }
    // The slot owns the clip before the first callback can reach it.
    m_clip = std::move(clip);
    m_slots.sound = stream;
    if (error = pa().startStream(stream); error != paNoError) {
        m_log.log(kSevere, "Error starting sound stream [%s]", pa().getErrorText(error));
        (void)pa().closeStream(stream);
        m_slots.sound = nullptr;
        m_clip.reset();
        return Result::failed;
    }
    reference.keep();
    const DeviceEntry* entry = m_registry.entryForDevice(device);
    m_soundDevice = entry ? entry->name : std::string();
    return Result::ok;
}

Result SoundPlayer::stopSound() {
    std::scoped_lock lock(m_slots.mutex, m_slots.portAudio);
    if (m_slots.sound == nullptr) {
        return Result::ok;
    }
    // The stop waits for the audio thread, which runs the end handler on its way out;
    // that handler only wakes the clean-up thread, which then finds the slot empty.
    const PaError error = pa().stopStream(m_slots.sound);
    if (error != paNoError) {
        m_log.log(kSevere, "Error closing sound stream [%s]", pa().getErrorText(error));
    }
    finishSoundLocked();
    return error == paNoError ? Result::ok : Result::failed;
}

bool SoundPlayer::soundPlaying() const {
    std::lock_guard lock(m_slots.mutex);
    return m_slots.sound != nullptr;
}

void SoundPlayer::finishSoundLocked() noexcept {
    // Closed before the clip goes: no callback may still read it.
    if (closeSlot(pa(), m_slots.sound).release == paNotInitialized) {
        m_log.log(kWarning, "Error shutting down PortAudio [%s]",
                  pa().getErrorText(paNotInitialized));
    }
    m_clip.reset();
    m_soundDevice.clear();
}

void SoundPlayer::ensureCleanUpThread() {
    if (!m_cleanUp.joinable()) {
        m_cleanUp = std::thread(&SoundPlayer::cleanUpFinishedSounds, this);
    }
}

void SoundPlayer::cleanUpFinishedSounds() {
    (void)guarded(&m_log, "Sound clean-up thread", [this] { cleanUpLoop(); });
}

void SoundPlayer::cleanUpLoop() {
    for (;;) {
        m_wake.acquire();
        if (m_quit.load()) {
            return;
        }
        const uint64_t serial = m_finishedSerial.exchange(0, std::memory_order_acq_rel);
        if (serial == 0) {
            continue;
        }
        std::scoped_lock lock(m_slots.mutex, m_slots.portAudio);
        // A stop or a rescan may have dealt with this playing already; then the slot
        // holds nothing or another playing, and nothing is released twice.
        if (m_slots.sound != nullptr && m_clip != nullptr && m_clip->serial == serial) {
            finishSoundLocked();
        }
    }
}

std::optional<ClosedTone> SoundPlayer::closeToneForRescan() noexcept {
    std::scoped_lock lock(m_slots.mutex, m_slots.portAudio);
    if (m_slots.testTone == nullptr) {
        return std::nullopt;
    }
    const SlotClosing closing = closeSlot(pa(), m_slots.testTone);
    if (closing.close != paNoError) {
        m_log.log(kWarning, "Error occurred while stopping test stream: %s",
                  pa().getErrorText(closing.close));
    }
    return ClosedTone{m_toneDevice, closing.release};
}

std::optional<ClosedSound> SoundPlayer::closeSoundForRescan() noexcept {
    std::scoped_lock lock(m_slots.mutex, m_slots.portAudio);
    if (m_slots.sound == nullptr) {
        return std::nullopt;
    }
    // The end handler cannot be detached from a running stream; taking the clip out of
    // the slot first has the same effect: the clean-up thread finds no playing of it.
    ClosedSound closed{m_soundDevice, std::move(m_clip), paNoError};
    m_soundDevice.clear();
    const SlotClosing closing = closeSlot(pa(), m_slots.sound);
    if (closing.close != paNoError) {
        m_log.log(kWarning, "Error occurred while loop stream: %s",
                  pa().getErrorText(closing.close));
    }
    closed.release = closing.release;
    return closed;
}

}  // namespace tallix
