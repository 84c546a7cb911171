#include "engine/device_rescan.h"

namespace tallix {

Result DeviceRescan::rescan(bool restart) {
    std::unique_lock lock(m_slots.mutex, std::defer_lock);
    std::unique_lock portAudio(m_slots.portAudio, std::defer_lock);
    std::lock(lock, portAudio);
    if (m_slots.anyOpenLocked()) {
        portAudio.unlock();
        lock.unlock();
        return restart ? restartStreams() : Result::busy;
    }
    PortAudioReference reference(pa());
    if (const Result result = m_registry.enumerateWith(reference); result != Result::ok) {
        return result;
    }
    if (const PaError error = reference.release(); error != paNoError) {
        m_log.log(kWarning, "Error while shutting down PortAudio: %s", pa().getErrorText(error));
    }
    return Result::ok;
}

Result DeviceRescan::restartStreams() {
    // Each stream gives back its own reference as it closes, so the count can reach
    // zero; only one of them can be open.
    const ClosedCallStream call = m_streams.closeForRescan();
    // However the rescan ends, a call stream it closed runs again or is lost.
    struct RestartEnd {
        CallStreams& streams;
        ~RestartEnd() { streams.endRestart(); }
    } restartEnd{m_streams};
    std::optional<ClosedTone> tone = m_sounds.closeToneForRescan();
    std::optional<ClosedSound> sound = m_sounds.closeSoundForRescan();
    const PaError released =
        call.wasOpen ? call.release : tone ? tone->release : sound ? sound->release : paNoError;
    if (released == paNotInitialized) {
        m_log.log(kSevere, "Error occurred while stopping PortAudio: %s",
                  pa().getErrorText(released));
        return Result::failed;
    }

    std::unique_lock portAudio(m_slots.portAudio);
    PortAudioReference reference(pa());
    portAudio.unlock();
    if (!reference.held()) {
        m_log.log(kSevere, "Error occurred while starting PortAudio: %s",
                  pa().getErrorText(reference.error()));
        return Result::failed;
    }
    // Every way out from here gives back the reference taken above.
    auto giveBack = [&](Result result) {
        portAudio.lock();
        const PaError given = reference.release();
        portAudio.unlock();
        if (given == paNotInitialized) {
            m_log.log(kWarning, "Error occurred while stopping PortAudio: %s",
                      pa().getErrorText(paNotInitialized));
        }
        return result;
    };
    Result enumerated;
    {
        std::scoped_lock lock(m_slots.mutex, m_slots.portAudio);
        enumerated = m_registry.enumerate();
    }
    if (enumerated != Result::ok) {
        return giveBack(enumerated);
    }
    if (call.wasOpen) {
        if (const Result result = m_streams.reopen(call.inputName, call.outputName);
            result != Result::ok) {
            return giveBack(result);
        }
    }
    if (tone) {
        if (const Result result = m_sounds.playTestTone(tone->deviceName.c_str());
            result != Result::ok) {
            return giveBack(result);
        }
    }
    if (sound) {
        if (const Result result =
                m_sounds.startClip(sound->deviceName.c_str(), std::move(sound->clip));
            result != Result::ok) {
            return giveBack(result);
        }
    }
    return giveBack(Result::ok);
}

}  // namespace tallix
