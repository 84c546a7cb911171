// The engine's three stream slots. At most one stream is open at a time, call, test
// tone or sound: every opening refuses while any slot is occupied.
#pragma once

#include <portaudio.h>

#include <mutex>

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

}  // namespace tallix
