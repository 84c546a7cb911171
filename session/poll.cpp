// The poll loop: one tick of the session every 20 ms of the client's clock, at most one
// event per call, and the wait for the next tick when there is nothing to do.
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "session/client_lock.h"
#include "session/session_steps.h"

namespace session {

namespace steps {

void endSession(VoiceClient& client) noexcept {
    const ClientState current = client.state();
    if (!client.disconnectLocked() && current >= E_QELCS_ANNOUNCING && current <= E_QELCS_FAILED) {
        // No slot for the DISCONNECT packet: the session ends all the same, or its error
        // would be reported at every tick and the caller would never see it end.
        client.enterState(E_QELCS_DISCONNECTED);
    }
}

void failSession(VoiceClient& client, uint32_t now, const char* format, ...) noexcept {
    va_list args;
    va_start(args, format);
    std::vsnprintf(client.m_error, sizeof client.m_error, format, args);
    va_end(args);
    client.log().log(kLogSevere, "%s", client.m_error);
    client.enterState(E_QELCS_FAILED);
    client.m_stateStart = now;
}

}  // namespace steps

namespace {

void reportError(PollEvent& event, const char* text) noexcept {
    const int length = std::snprintf(reinterpret_cast<char*>(event.data), sizeof event.data, "%s", text);
    event.code = E_QELEV_ERROR;
    event.length = length < static_cast<int>(sizeof event.data) ? length : static_cast<int>(sizeof event.data) - 1;
}

// An answer that never came: the error event, its line, and the end of the session.
void timeOut(VoiceClient& client, PollEvent& event, const char* message) noexcept {
    std::snprintf(client.m_error, sizeof client.m_error, "%s", message);
    reportError(event, message);
    client.log().log(kLogSevere, "%s", message);
    steps::endSession(client);
}

// Waiting for an answer: the queue drains until the answer's time is up.
void awaitAnswer(VoiceClient& client, PollEvent& event, uint32_t elapsed, uint32_t timeout,
                 const char* message) noexcept {
    if (elapsed >= timeout) {
        timeOut(client, event, message);
    } else {
        steps::sendStep(client, event);
    }
}

// Connected and disconnected: the state's event once (its counter remembers), then
// the send step at every later tick.
void reportOnceThenSend(VoiceClient& client, PollEvent& event, int32_t code, const char* message) noexcept {
    if (client.m_stateCounter == 0) {
        client.log().log(kLogSevere, "%s", message);
        event.code = code;
        client.m_stateCounter = 1;
    } else {
        steps::sendStep(client, event);
    }
}

void tick(VoiceClient& client, uint32_t now, PollEvent& event) noexcept {
    event.code = E_QELEV_NONE;
    event.length = 0;
    event.data[0] = 0;
    if (client.m_stateStart == 0) {
        client.m_stateStart = now;
    }
    const uint32_t elapsed = now - client.m_stateStart;
    switch (client.state()) {
        case E_QELCS_ANNOUNCING:
            awaitAnswer(client, event, elapsed, kAnnounceTimeoutMs, "No response from server");
            return;
        case E_QELCS_ANNOUNCED:
        case E_QELCS_PROBING:
        case E_QELCS_NETREADY:
            steps::detectionStep(client, now, event);
            return;
        case E_QELCS_CONNECTING:
            awaitAnswer(client, event, elapsed, kConnectTimeoutMs, "Service unavailable");
            return;
        case E_QELCS_CONNECTED:
            reportOnceThenSend(client, event, E_QELEV_CONNECTED, "Connected");
            return;
        case E_QELCS_FAILED:
            reportError(event, client.m_error);
            client.log().log(kLogSevere, "Error: %s", client.m_error);
            steps::endSession(client);
            return;
        case E_QELCS_DISCONNECTED:
            // After the one report the DISCONNECT packet (and anything queued before it)
            // still goes out, so the server hears that the call ended.
            reportOnceThenSend(client, event, E_QELEV_DISCONNECTED, "Server disconnected");
            return;
        default:
            client.m_stateStart = now;
            steps::sendStep(client, event);
            return;
    }
}

}  // namespace

bool VoiceClient::poll(PollEvent& event) noexcept {
    uint32_t target = 0;
    {
        Lock lock(*this, kLockPoll);
        if (!lock) {
            // The lock's tries have already taken the time of a tick.
            event.code = E_QELEV_NONE;
            event.length = 0;
            event.data[0] = 0;
            return false;
        }
        // What the audio thread reported since the last poll: it never logs itself.
        writeAudioMessages();
        const uint32_t now = m_time.now();
        const auto drift = static_cast<int32_t>(m_nexttick - now);
        if (drift >= kRescheduleMs || drift <= -kRescheduleMs) {
            m_log->logRepeated(kRepeatPollAdjust, kLogWarning, "POLL(): Adjusting m_nexttick by %d", drift);
            m_nexttick = now;
        }
        tick(*this, now, event);
        m_pollTimeMs += m_time.now() - now;
        if (event.code != E_QELEV_NONE) {
            if (platform::reached(now, m_nexttick)) {
                m_log->logRepeated(kRepeatPollWithoutWait, kLogWarning,
                                   "POLL(): Reached next tick without waiting, delta=%d",
                                   static_cast<int32_t>(now - m_nexttick));
                m_nexttick += kTickMs;
            }
            return true;
        }
        target = m_nexttick;
        m_nexttick += kTickMs;
    }
    // Between ticks, outside the client lock: the recordings go to disk here, never on
    // the audio thread.
    m_processedRecorder.drain();
    m_deviceRecorder.drain();
    for (int32_t left; (left = static_cast<int32_t>(target - m_time.now())) > 1;) {
        if (waitForFrame((left < static_cast<int32_t>(kTickMs) ? static_cast<uint32_t>(left) : kTickMs) - 1)) {
            // A frame is ready: the caller polls again at once and this tick sends it.
            // The schedule moves to this moment, so the next step is a whole period
            // later and a steady call still sends one packet per frame.
            m_nexttick = m_time.now() + kTickMs;
            break;
        }
    }
    return false;
}

}  // namespace session
