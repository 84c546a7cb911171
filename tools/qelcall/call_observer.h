// What a call shows to someone watching it as it goes: its events, the packets that
// cross its sockets, the session library's log, and every device buffer of audio.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qelcall {

class CallObserver {
  public:
    virtual ~CallObserver() = default;

    // Call thread. `code` is a poll event (E_QELEV_*; the packet events are reported
    // through sent() instead).
    virtual void event(int code) = 0;
    // Control thread: the call is being hung up (the user's side of the disconnect).
    virtual void hangingUp() = 0;
    // Bytes handed to the session (one datagram, from the socket's reader thread, or a
    // piece of the TCP stream, from the call thread), and one packet sent (call thread).
    virtual void received(const uint8_t* bytes, size_t n, bool udp) = 0;
    virtual void sent(const uint8_t* bytes, size_t n, bool udp) = 0;
    // Call thread: one line of the session library's log ("SSSS.mmm message").
    virtual void logLine(int level, const char* text) = 0;

    // Audio thread, once per device buffer while in the call: what the microphone gave
    // and what the speaker got. Real-time: no allocation, no lock, no I/O.
    virtual void audio(const float* in, const float* out, int frames) noexcept = 0;
};

}  // namespace qelcall
