// The engine's three stream slots. At most one stream is open at a time, call, test
// tone or sound: every opening refuses while any slot is occupied.
#pragma once

#include <portaudio.h>

#include <mutex>

#include "engine/portaudio_api.h"

namespace tallix {

// Opening, closing and switching run on Java threads, on the call thread's clean-up and
// on the sound clean-up thread. Two mutexes order them, and no audio callback takes
// either:
//  - `mutex` guards the slots and the call stream's state;
//  - `portAudio` guards every PortAudio call made outside an audio callback (the
//    library's reference count and device list are not safe from two threads) and the
//    device registry that mirrors its list.
// Work that changes a slot takes both (std::scoped_lock, which orders them). Only the
// call thread's attempts to reopen a lost stream take `portAudio` alone, to initialise
// PortAudio and list the devices, which a slow driver can drag out to seconds: a call
// that ends or switches devices meanwhile must not wait for it.
struct StreamSlots {
    mutable std::mutex mutex;
    mutable std::mutex portAudio;
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
// the slot and gives back the stream's reference. Call with both mutexes held.
inline SlotClosing closeSlot(const PortAudioApi& pa, PaStream*& slot) noexcept {
    SlotClosing closing{pa.closeStream(slot), paNoError};
    slot = nullptr;
    closing.release = pa.terminate();
    return closing;
}

}  // namespace tallix
