// A call host in C++ that does what the Java host does: owns the TCP connection,
// hands every whole packet of it to the engine from a reader thread, and records the
// call's events.
#pragma once

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/call.h"

namespace tallix::testing {

class TcpTestHost : public CallHost {
  public:
    explicit TcpTestHost(CallEngine& call) : m_call(call) {}
    ~TcpTestHost() override;

    bool connectTcp(const std::string& host, uint16_t port) override;
    bool isTcpConnected() override;
    bool sendTcpPacket(const uint8_t* data, int length) override;
    void disconnectNetwork() override;
    void callStarted(const std::string& pin) override { event("started " + pin); }
    void callEnded(const std::string& pin) override { event("ended " + pin); }
    void callFailed(const std::string& pin, const std::string& reason) override {
        event("failed " + pin + ": " + reason);
    }
    void threadEnding() override;

    // The next event not yet returned, or "" after `timeoutMs`.
    std::string nextEvent(int timeoutMs);
    std::vector<std::string> events();
    int packetsSent() const { return m_sent; }
    bool threadEnded();
    bool failSends = false;  // sendTcpPacket reports failure, as a throwing host would

  private:
    void event(const std::string& text);
    void readPackets(int fd);

    CallEngine& m_call;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::string> m_events;
    size_t m_read = 0;
    int m_fd = -1;
    std::thread m_reader;
    std::atomic<int> m_sent{0};
    bool m_threadEnded = false;
};

}  // namespace tallix::testing
