// The engine's three stream slots. At most one stream is open at a time, call, test
// tone or sound: every opening refuses while any slot is occupied.
#pragma once

#include <portaudio.h>

#include <mutex>

#include "engine/portaudio_api.h"

namespace tallix {

// Opening, closing and switching run on Java threads, on the call thread's clean-up and
// on the sound clean-up thread; the one mutex orders them. No audio callback takes it.
struct StreamSlots {
    mutable std::mutex mutex;
    PaStream* call = nullptr;
    PaStream* testTone = nullptr;
    PaStream* sound = nullptr;

    bool anyOpenLocked() const noexcept {
        return call != nullptr || testTone != nullptr || sound != nullptr;
    }
    bool anyOpen() const {
        std::lock_guard lock(mutex);
        return anyOpenLocked();
    }
};

// What closing a slot's stream answered: the close itself, then giving back the library
// reference that the stream held.
struct SlotClosing {
    PaError close = paNoError;
    PaError release = paNoError;
};

// Closes the stream in `slot` (a running one is stopped first by the library), empties
// the slot and gives back the stream's reference. Call with the slots' mutex held.
inline SlotClosing closeSlot(const PortAudioApi& pa, PaStream*& slot) noexcept {
    SlotClosing closing{pa.closeStream(slot), paNoError};
    slot = nullptr;
    closing.release = pa.terminate();
    return closing;
}

}  // namespace tallix
