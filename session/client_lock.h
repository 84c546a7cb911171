// The client lock held for one operation (shared by the files that implement
// VoiceClient's locked operations).
#pragma once

#include "session/voice_client.h"

namespace session {

// Holds the client lock for one operation. When the lock stays busy beyond the
// SpinLock's tries, the operation is refused: it must never work on the client beside
// another holder.
class VoiceClient::Lock {
public:
    Lock(VoiceClient& client, ClientLockId id) noexcept : m_guard(client.m_lock, id) {
        if (!m_guard) {
            client.log().log(kLogSevere, "LOCK RACE CONDITION! %d competing with %d\n", id,
                             m_guard.outcome().holder);
        }
    }
    explicit operator bool() const noexcept { return m_guard.owns(); }

private:
    platform::SpinGuard m_guard;
};

}  // namespace session
