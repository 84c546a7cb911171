// When the last datagram read from a call's UDP socket reached the machine, as the
// kernel stamped it. The socket is found among the process's own descriptors by the
// server port it is connected to, so the code that owns it (the engine's call thread,
// qelcall's) needs no change to be observed. Linux only; elsewhere nothing is found.
#pragma once

#include <cstdint>

namespace qelcall {

class UdpArrival {
public:
    // Looks for the process's UDP socket connected to 127.0.0.1:`serverPort`; false
    // when there is none (yet). Not for the audio thread: it walks /proc.
    bool find(uint16_t serverPort);

    // Microseconds of std::chrono::steady_clock at which the datagram that was read
    // last from the socket arrived; 0 when unknown. The first call only switches the
    // kernel's stamping on. Call right after the read, on the reading thread.
    int64_t lastArrivalUs() const;

private:
    int m_fd = -1;
};

}  // namespace qelcall
