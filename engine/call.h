// A voice call: the call thread that drives the session library, the UDP socket, the
// TCP hand-over from the host, and the call's flags.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "engine/call_host.h"
#include "engine/call_stream.h"
#include "engine/stream_watchdog.h"
#include "engine/tcp_inbox.h"
#include "platform/datagram_reader.h"
#include "platform/udp_socket.h"

namespace tallix {

struct CallParameters {
    std::string pin;   // at most 255 bytes
    std::string host;  // at most 1023 bytes
    uint16_t port = 0;
    std::string service;  // at most 255 bytes
};

// Public methods run on Java threads; one call thread runs per call. Never two call
// threads: a start while the previous thread is still finishing waits for it (bounded)
// or refuses as busy.
class CallEngine {
  public:
    static constexpr uint32_t kFinishWaitMs = 3000;
    static constexpr int kUdpFailureLimit = 250;

    CallEngine(EngineLog& log, CallStreams& streams, AudioControls& controls)
        : m_log(log), m_streams(streams), m_controls(controls) {}
    ~CallEngine();
    CallEngine(const CallEngine&) = delete;
    CallEngine& operator=(const CallEngine&) = delete;

    // The session client that calls use; set before the first call.
    void setSession(const SessionApi* api, QelClient* client) noexcept;

    // Names the user (the session's display name). Needed before the first start.
    void setCallerId(const char* id);

    // Opens the call stream, tells the session library its format and starts the call
    // thread. The host is kept by the thread until it ends.
    [[nodiscard]] Result start(CallParameters parameters, const char* inputKey,
                               const char* outputKey, bool loopback,
                               std::shared_ptr<CallHost> host);
    // Hangs up a connected call; before the connection it only logs.
    void end();
    bool inProgress() const noexcept {
        return m_controls.callInProgress.load(std::memory_order_acquire);
    }

    // TCP hand-over from the host's reader: false (logged) for a length outside the
    // packet capacity.
    bool tcpPacketReceived(const uint8_t* data, int length);
    void tcpReadError();

    // Asks a running call thread to leave and waits for it (end of the engine's life).
    void stop();

    // Waits until no call thread runs; true when none does.
    bool waitIdle(uint32_t timeoutMs);

  private:
    void run(std::shared_ptr<CallHost> host);
    // The body of run(); `attached` tells whether the host's thread set-up succeeded.
    void runCall(CallHost& host, bool& attached);
    void loop(CallHost& host);
    void drainTcp(CallHost& host);
    void drainUdp();
    void handle(CallHost& host, const PollEvent& event);
    void drainSessionLog();
    void sendUdp(CallHost& host, const PollEvent& event);
    void failCall(CallHost& host, const char* reason);
    bool connectUdp();
    void closeUdp();
    void finishThread();

    EngineLog& m_log;
    CallStreams& m_streams;
    AudioControls& m_controls;
    std::atomic<const SessionApi*> m_api{nullptr};
    std::atomic<QelClient*> m_client{nullptr};
    std::atomic<bool> m_callerIdSet{false};
    std::atomic<bool> m_stopRequested{false};
    std::atomic<bool> m_callFailed{false};

    // Read by the call thread only, written by start() before the thread exists.
    CallParameters m_parameters;
    TcpInbox m_inbox;

    // Call thread only, but for the reader: while it runs, it alone receives on m_udp
    // (and uses m_receiveBuffer), handing each datagram to the session as it arrives
    // instead of at the call thread's next poll step.
    platform::UdpSocket m_udp;
    platform::DatagramReader m_udpReader;
    std::string m_udpHost;
    uint16_t m_udpPort = 0;
    int m_udpFailures = 0;
    std::vector<uint8_t> m_receiveBuffer;
    StreamWatchdog m_watchdog{m_streams};

    std::mutex m_threadMutex;
    std::condition_variable m_threadDone;
    bool m_threadRunning = false;
    std::thread m_thread;
};

}  // namespace tallix
