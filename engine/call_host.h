// What the call thread asks of the host that owns the TCP connection and hears about
// the call: the Java host through JNI in the product, a test host in native tests.
#pragma once

#include <cstdint>
#include <string>

namespace tallix {

// Every method runs on the call thread, between threadStarted() and threadEnding().
class CallHost {
  public:
    virtual ~CallHost() = default;

    // First and last things the call thread does (attach to and detach from a VM).
    // threadStarted() returning false ends the thread before it does anything else.
    virtual bool threadStarted() { return true; }
    virtual void threadEnding() {}

    // Opens the TCP connection to the server; false when the host failed to.
    virtual bool connectTcp(const std::string& host, uint16_t port) = 0;
    virtual bool isTcpConnected() = 0;
    // Sends one whole packet; false when the host failed to.
    virtual bool sendTcpPacket(const uint8_t* data, int length) = 0;
    virtual void disconnectNetwork() = 0;

    virtual void callStarted(const std::string& pin) = 0;
    virtual void callEnded(const std::string& pin) = 0;
    virtual void callFailed(const std::string& pin, const std::string& reason) = 0;
};

}  // namespace tallix
