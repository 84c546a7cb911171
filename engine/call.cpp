#include "engine/call.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "engine/guarded.h"
#include "platform/clock.h"

namespace tallix {

namespace {

constexpr size_t kMaxPin = 255;
constexpr size_t kMaxHost = 1023;
constexpr size_t kMaxService = 255;

}  // namespace

CallEngine::~CallEngine() {
    stop();
}

void CallEngine::stop() {
    m_stopRequested.store(true);
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

void CallEngine::setSession(const SessionApi* api, QelClient* client) noexcept {
    m_api.store(api, std::memory_order_release);
    m_client.store(client, std::memory_order_release);
}

void CallEngine::setCallerId(const char* id) {
    m_callerIdSet.store(true);
    if (const SessionApi* api = m_api.load(std::memory_order_acquire)) {
        api->command(m_client.load(std::memory_order_acquire), 1, id);
    }
}

bool CallEngine::waitIdle(uint32_t timeoutMs) {
    std::unique_lock lock(m_threadMutex);
    const bool idle = m_threadDone.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                            [this] { return !m_threadRunning; });
    if (idle && m_thread.joinable()) {
        m_thread.join();  // it has already left run(); this only reaps it
    }
    return idle;
}

Result CallEngine::start(CallParameters parameters, const char* inputKey, const char* outputKey,
                         bool loopback, std::shared_ptr<CallHost> host) {
    m_controls.loopbackMode.store(loopback, std::memory_order_relaxed);
    if (inProgress()) {
        return Result::busy;
    }
    if (!m_callerIdSet.load() || m_api.load() == nullptr) {
        return Result::failed;
    }
    {
        std::lock_guard lock(m_threadMutex);
        // A thread that is still setting up its call is busy; one that is ending
        // (after a failure or a disconnect) is waited for below.
        if (m_threadRunning && !m_stopRequested.load()) {
            return Result::busy;
        }
    }
    if (!waitIdle(kFinishWaitMs)) {
        return Result::busy;
    }
    m_callFailed.store(false);
    if (const Result result = m_streams.open(inputKey, outputKey); result != Result::ok) {
        return result;
    }
    try {
        parameters.host.resize(std::min(parameters.host.size(), kMaxHost));
        parameters.pin.resize(std::min(parameters.pin.size(), kMaxPin));
        parameters.service.resize(std::min(parameters.service.size(), kMaxService));
        m_parameters = std::move(parameters);
        m_stopRequested.store(false);
        m_inbox.clear();  // nothing of an earlier connection reaches this call
        std::lock_guard lock(m_threadMutex);
        m_thread = std::thread(&CallEngine::run, this, std::move(host));
        m_threadRunning = true;
    } catch (const std::exception& e) {
        // No thread (out of memory or of threads): no call either. The stream must not
        // stay open, or every later start would be refused as busy.
        m_log.log(kSevere, "Call thread could not be started: %s", e.what());
        m_streams.close();
        return Result::failed;
    }
    return Result::ok;
}

void CallEngine::end() {
    if (!inProgress()) {
        m_log.log(kSevere, "Attempting to end call when no call is in progress");
        return;
    }
    m_log.log(kFinest, "About to disconnect QEL Client");
    m_streams.close();
    const SessionApi* api = m_api.load(std::memory_order_acquire);
    api->disconnect(m_client.load(std::memory_order_acquire));
}

bool CallEngine::tcpPacketReceived(const uint8_t* data, int length) {
    if (length < 0 || length > NetPacket::kCapacity) {
        m_log.log(kSevere, "Refused TCP packet of %d bytes (at most %d)", length,
                  NetPacket::kCapacity);
        return false;
    }
    NetPacket packet;
    packet.data.assign(data, data + length);
    m_inbox.push(std::move(packet));
    return true;
}

void CallEngine::tcpReadError() {
    NetPacket packet;
    packet.error = true;
    m_inbox.push(std::move(packet));
}

void CallEngine::run(std::shared_ptr<CallHost> host) {
    bool attached = false;
    const bool finished = guarded(&m_log, "Call thread", [&] { runCall(*host, attached); });
    if (!finished) {
        // The call ended half way; leave the session, the stream and the sockets as a
        // call that ended normally would.
        m_controls.callInProgress.store(false, std::memory_order_release);
        m_streams.close();
        // The reader stops first: the call may still be connected, and a datagram
        // handed in now would meet the reset.
        m_udpReader.stop();
        if (const SessionApi* api = m_api.load(std::memory_order_acquire)) {
            api->reset(m_client.load(std::memory_order_acquire));
        }
        closeUdp();
        if (attached) {
            (void)guarded(&m_log, "Call thread", [&] { host->disconnectNetwork(); });
        }
        m_inbox.clear();
    }
    host->threadEnding();
    finishThread();
}

void CallEngine::runCall(CallHost& host, bool& attached) {
    if (host.threadStarted()) {
        attached = true;
        const SessionApi& api = *m_api.load(std::memory_order_acquire);
        QelClient* client = m_client.load(std::memory_order_acquire);
        m_udpFailures = 0;
        if (!host.connectTcp(m_parameters.host, m_parameters.port)) {
            failCall(host, "Failed to connect to server");
        } else {
            api.announce(client);
            loop(host);
            m_log.log(kFinest, "About to reset QEL client");
            m_controls.callInProgress.store(false, std::memory_order_release);
            // The stream closes and the UDP reader stops before the reset: closing
            // waits for a running audio callback, stopping for a datagram being handed
            // in, and the session library must not be reset under either.
            m_streams.close();
            m_udpReader.stop();
            api.reset(client);
            m_log.log(kFinest, "Disconnecting network sockets");
            closeUdp();
            host.disconnectNetwork();
            m_inbox.clear();
            m_log.log(kInfo, "Shutting down call thread");
        }
    } else {
        m_controls.callInProgress.store(false, std::memory_order_release);
        m_streams.close();
        m_inbox.clear();
    }
}

void CallEngine::finishThread() {
    std::lock_guard lock(m_threadMutex);
    m_threadRunning = false;
    m_threadDone.notify_all();
}

void CallEngine::loop(CallHost& host) {
    const SessionApi& api = *m_api.load(std::memory_order_acquire);
    QelClient* client = m_client.load(std::memory_order_acquire);
    PollEvent event{};
    while (!m_stopRequested.load()) {
        event.code = E_QELEV_NONE;
        event.length = 0;
        // A lost sound device is noticed and its stream reopened between two polls.
        m_watchdog.check(platform::nowMs());
        if (host.isTcpConnected()) {
            drainTcp(host);
        }
        if (m_udp.isOpen() && !m_udpReader.running()) {
            drainUdp();  // no reader thread could be had: read at each step
        }
        // Events of one series are all handled, even after a stop was requested; the
        // flag is looked at only once poll has waited for the next tick.
        while (api.poll(client, &event)) {
            handle(host, event);
            drainSessionLog();
        }
    }
}

void CallEngine::drainTcp(CallHost&) {
    const SessionApi& api = *m_api.load(std::memory_order_acquire);
    while (std::optional<NetPacket> packet = m_inbox.pop()) {
        if (packet->error) {
            m_log.log(kSevere, "TCP Network error");
            return;
        }
        if (packet->data.empty()) {
            return;
        }
        api.recvPacket(m_client.load(std::memory_order_acquire), packet->data.data(),
                       static_cast<int>(packet->data.size()), 0);
    }
}

void CallEngine::drainUdp() {
    const SessionApi& api = *m_api.load(std::memory_order_acquire);
    m_receiveBuffer.resize(NetPacket::kCapacity - 1);
    for (;;) {
        size_t received = 0;
        const auto status = m_udp.receive(m_receiveBuffer.data(), m_receiveBuffer.size(), received);
        if (status == platform::UdpSocket::Status::failed) {
            m_log.log(kSevere, "Error reading UDP packet %s",
                      platform::UdpSocket::lastErrorText().c_str());
            return;
        }
        if (status == platform::UdpSocket::Status::wouldBlock || received == 0) {
            return;
        }
        api.recvPacket(m_client.load(std::memory_order_acquire), m_receiveBuffer.data(),
                       static_cast<int>(received), 1);
    }
}

void CallEngine::drainSessionLog() {
    const SessionApi& api = *m_api.load(std::memory_order_acquire);
    QelClient* client = m_client.load(std::memory_order_acquire);
    while (const LogWalkEntry* entry = api.logwalk(client)) {
        if (entry->level == 0) {
            break;
        }
        const int level = entry->level >= 1 && entry->level <= 4 ? entry->level : kFinest;
        m_log.log(level, "QEL: %s", entry->text);
    }
}

void CallEngine::handle(CallHost& host, const PollEvent& event) {
    const SessionApi& api = *m_api.load(std::memory_order_acquire);
    QelClient* client = m_client.load(std::memory_order_acquire);
    switch (event.code) {
        case E_QELEV_UDPADDR: {
            char address[16];
            std::snprintf(address, sizeof address, "%d.%d.%d.%d", event.data[0], event.data[1],
                          event.data[2], event.data[3]);
            m_udpHost = address;
            m_udpPort = static_cast<uint16_t>(event.data[4] | (event.data[5] << 8));
            (void)connectUdp();
            break;
        }
        case E_QELEV_NET_UDP:
        case E_QELEV_NET_TCP:
            api.connectVoice(client, m_parameters.service.c_str(), m_parameters.pin.c_str());
            break;
        case E_QELEV_CONNECTED:
            m_log.log(kInfo, "Connected to QEL server");
            // In progress before the host hears of it: a host that hangs up as soon as
            // callStarted arrives must find the call there to end.
            m_controls.callInProgress.store(true, std::memory_order_release);
            host.callStarted(m_parameters.pin);
            break;
        case E_QELEV_ERROR: {
            // The text is the record's own; never read past its end.
            const int length = std::clamp(event.length, 0, QEL_POLL_EVENT_DATA - 1);
            const std::string text(reinterpret_cast<const char*>(event.data),
                                   strnlen(reinterpret_cast<const char*>(event.data),
                                           static_cast<size_t>(length) + 1));
            m_log.log(kSevere, "Received QEL error [%s]", text.c_str());
            failCall(host, "Received error from QEL");
            break;
        }
        case E_QELEV_SEND_UDP:
            sendUdp(host, event);
            break;
        case E_QELEV_SEND_TCP: {
            const int length = std::clamp(event.length, 0, QEL_POLL_EVENT_DATA);
            if (!host.sendTcpPacket(event.data, length)) {
                failCall(host, "Error sending TCP packet");
            }
            break;
        }
        case E_QELEV_DISCONNECTED:
            m_log.log(kInfo, "Disconnected from QEL server");
            if (!m_callFailed.load()) {
                host.callEnded(m_parameters.pin);
            }
            m_stopRequested.store(true);
            break;
        default:
            m_log.log(kWarning, "Received unknown event: %d", event.code);
            break;
    }
}

void CallEngine::sendUdp(CallHost& host, const PollEvent& event) {
    const int length = std::clamp(event.length, 0, QEL_POLL_EVENT_DATA);
    const bool sent = m_udp.isOpen() && m_udp.send(event.data, static_cast<size_t>(length));
    if (sent) {
        if (m_udpFailures > 1) {
            m_log.log(kSevere, "%d UDP packets failed to send", m_udpFailures);
        }
        m_udpFailures = 0;
        return;
    }
    if (m_udpFailures == 0) {
        m_log.log(kSevere, "Error sending UDP packet");
    }
    if (++m_udpFailures > kUdpFailureLimit) {
        failCall(host, "UDP send error limit reached");
    }
}

void CallEngine::failCall(CallHost& host, const char* reason) {
    if (m_callFailed.exchange(true)) {
        return;
    }
    closeUdp();
    host.disconnectNetwork();
    m_inbox.clear();
    m_streams.close();
    m_stopRequested.store(true);
    m_controls.callInProgress.store(false, std::memory_order_release);
    host.callFailed(m_parameters.pin, reason);
}

bool CallEngine::connectUdp() {
    if (m_udp.isOpen()) {
        return true;
    }
    m_log.log(kFinest, "connectUdp(%s, %hu)", m_udpHost.c_str(), m_udpPort);
    char service[6];
    std::snprintf(service, sizeof service, "%hu", m_udpPort);
    platform::DatagramAddresses candidates;
    if (platform::DatagramAddresses::resolve(m_udpHost.c_str(), service, candidates) != 0) {
        m_log.log(kSevere, "Failed to get server info for %s:%hu", m_udpHost.c_str(), m_udpPort);
        return false;
    }
    if (candidates.size() == 0) {
        m_log.log(kSevere, "Failed to lookup server for %s:%hu", m_udpHost.c_str(), m_udpPort);
        return false;
    }
    for (size_t i = 0; i < candidates.size(); ++i) {
        const auto candidate = candidates[i];
        platform::UdpSocket socket;
        if (!socket.create(candidate) || !socket.connect(candidate)) {
            m_log.log(kWarning, "Failed to connect to socket candidate - trying next");
            continue;
        }
        if (!socket.setNonBlocking()) {
            m_log.log(kWarning, "Failed to set non-blocking I/O on socket - trying next");
            continue;
        }
        m_log.log(kFinest, "Connected to server port");
        m_udp = std::move(socket);
        if (!m_udpReader.start(m_udp, [this] {
                (void)guarded(&m_log, "UDP reader", [this] { drainUdp(); });
            })) {
            m_log.log(kWarning, "No UDP reader thread; reading at each poll step");
        }
        return true;
    }
    m_log.log(kSevere, "Ran out of socket candidates to connect to - aborting");
    return false;
}

void CallEngine::closeUdp() {
    m_udpReader.stop();
    m_udp.close();
}

}  // namespace tallix
