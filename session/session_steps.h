// Steps of the session that the receive path and the poll tick share. Each runs with
// the client lock held by its caller.
#pragma once

#include <cstdint>

#include "session/voice_client.h"

namespace session::steps {

// The session ends by itself (an error, a timeout, the server's DISCONNECT): the
// disconnect request without the lock. When no slot is left for the DISCONNECT packet
// the session still ends, it only goes unannounced to the server.
void endSession(VoiceClient& client) noexcept;

// Answers and errors: the error text, its level-1 line and E_QELCS_FAILED from `now`.
void failSession(VoiceClient& client, uint32_t now, const char* format, ...) noexcept
    QEL_PRINTF_FORMAT(3, 4);

// Transport detection in E_QELCS_ANNOUNCED, _PROBING and _NETREADY; runs the send
// step where probing sends.
void detectionStep(VoiceClient& client, uint32_t now, PollEvent& event) noexcept;

// Fills `event` with at most one packet: a voice frame first in the connected state,
// else the queue's head with its transport.
void sendStep(VoiceClient& client, PollEvent& event) noexcept;

}  // namespace session::steps
