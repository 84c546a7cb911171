#include "tools/qelcall/call.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>

#include "platform/datagram_reader.h"
#include "platform/tcp_stream.h"
#include "platform/udp_socket.h"
#include "session/audio/stage_probe.h"
#include "tools/qelcall/udp_arrival.h"

namespace qelcall {
namespace {

using Clock = std::chrono::steady_clock;

const char* eventName(int code) {
    static const char* const names[] = {"E_QELEV_NONE",      "E_QELEV_UDPADDR",   "E_QELEV_NET_UDP",
                                        "E_QELEV_NET_TCP",   "E_QELEV_CONNECTED", "E_QELEV_ERROR",
                                        "E_QELEV_SEND_UDP",  "E_QELEV_SEND_TCP",  "E_QELEV_DISCONNECTED"};
    return code >= 0 && code <= 8 ? names[code] : "unknown";
}

// A UDP socket connected to address:port, non-blocking; closed when that fails.
platform::UdpSocket connectUdp(const std::string& address, uint16_t port, std::string& error) {
    platform::DatagramAddresses candidates;
    const std::string service = std::to_string(port);
    if (const int rc = platform::DatagramAddresses::resolve(address.c_str(), service.c_str(), candidates);
        rc != 0) {
        error = "cannot resolve " + address + ": " + platform::DatagramAddresses::errorText(rc);
        return {};
    }
    for (size_t i = 0; i < candidates.size(); ++i) {
        platform::UdpSocket socket;
        if (socket.create(candidates[i]) && socket.connect(candidates[i]) && socket.setNonBlocking()) {
            return socket;
        }
        error = "cannot connect to " + address + ":" + service + ": " + platform::UdpSocket::lastErrorText();
    }
    return {};
}

class CallRun {
public:
    CallRun(const QelEntryPoints& qel, const CallOptions& o, const MonoAudio& mic, WavWriter& heard,
            CallStatistics& stats, const QelLibrary* library)
        : m_qel(qel), m_options(o), m_mic(mic), m_heard(heard), m_stats(stats), m_library(library),
          m_start(Clock::now()) {}

    std::string run(const std::atomic<bool>& stop);

private:
    void callThread();
    void audioThread();
    void handle(const PollEvent& event);
    void drainLog();
    bool readTcp();
    void readUdp();
    void fail(const std::string& reason);
    void receiveUdp(const uint8_t* bytes, size_t n);
    void watchClick(const float* in, int64_t bufferStart, int64_t enteredUs);
    void findClick(const float* out, int64_t leftUs);
    double elapsed() const { return std::chrono::duration<double>(Clock::now() - m_start).count(); }

    const QelEntryPoints& m_qel;
    const CallOptions& m_options;
    const MonoAudio& m_mic;
    WavWriter& m_heard;
    CallStatistics& m_stats;
    const QelLibrary* m_library;
    const Clock::time_point m_start;
    QelClient* m_client = nullptr;
    platform::TcpStream m_tcp;
    platform::UdpSocket m_udp;
    // Reads m_udp as datagrams arrive, as the engine does, so that none waits for the
    // call thread's next poll step.
    platform::DatagramReader m_udpReader;
    // The reader's counts, added to the statistics once it has stopped.
    uint64_t m_udpPackets = 0;
    uint64_t m_udpBytes = 0;
    std::atomic<bool> m_inCall{false};
    std::atomic<bool> m_connected{false};
    std::atomic<bool> m_callStop{false};
    std::atomic<bool> m_callDone{false};
    std::atomic<bool> m_audioStop{false};
    std::mutex m_failureLock;
    std::string m_failure;

    // Stage timing of clicks (options.stageTimes). The audio thread owns the stamps
    // of the click in flight and the finished ones (room for all, taken up front); the
    // call thread adds the kernel's arrival stamp of the click's echo.
    static constexpr size_t kMaxClicks = 256;
    qel::StageProbe* m_probe = nullptr;
    UdpArrival m_arrival;
    uint16_t m_serverUdpPort = 0;
    bool m_socketFound = false;
    std::atomic<int64_t> m_clickArrivedUs{0};
    bool m_watching = false;
    int64_t m_lastLoud = -1;
    int64_t m_watchStart = 0;
    ClickStamps m_pending;
};

// A click starts with a loud sample after at least 100 ms of quiet; the probe looks for
// it after processing, the heard side for its echo.
constexpr float kClickOnset = 0.5f;
constexpr float kHeardClick = 0.2f;
constexpr int16_t kProbeThreshold = 6554;  // 0.2 of full scale
constexpr int64_t kQuietBefore = kDeviceRate / 10;
constexpr int64_t kGiveUpAfter = kDeviceRate;  // a click not heard within 1 s is dropped

void CallRun::fail(const std::string& reason) {
    std::lock_guard<std::mutex> guard(m_failureLock);
    if (m_failure.empty()) {
        m_failure = reason;
    }
    m_callStop = true;
}

void CallRun::watchClick(const float* in, int64_t bufferStart, int64_t enteredUs) {
    for (int i = 0; i < kDeviceFrames; ++i) {
        if (std::fabs(in[i]) < kClickOnset) {
            continue;
        }
        const int64_t at = bufferStart + i;
        const bool onset = m_lastLoud < 0 || at - m_lastLoud >= kQuietBefore;
        m_lastLoud = at;
        if (onset && !m_watching && m_stats.clicks.size() < kMaxClicks) {
            m_pending = {};
            m_pending.handedInUs = enteredUs;
            m_pending.inputOffset = i;
            m_clickArrivedUs = 0;
            m_probe->arm(kProbeThreshold);
            m_watching = true;
            m_watchStart = at;
        }
    }
    if (m_watching && bufferStart - m_watchStart > kGiveUpAfter) {
        m_watching = false;
    }
}

void CallRun::findClick(const float* out, int64_t leftUs) {
    for (int i = 0; i < kDeviceFrames && m_watching; ++i) {
        if (std::fabs(out[i]) >= kHeardClick) {
            m_pending.playedUs = leftUs;
            m_pending.outputOffset = i;
            m_pending.readyUs = m_probe->readyUs();
            m_pending.encodedUs = m_probe->encodedUs();
            m_pending.arrivedUs = m_clickArrivedUs.load();
            m_pending.queuedUs = m_probe->queuedUs();
            m_pending.decodedUs = m_probe->decodedUs();
            m_pending.queuedAhead = m_probe->queuedAhead();
            m_stats.clicks.push_back(m_pending);  // within the capacity reserved
            m_watching = false;
        }
    }
}

void CallRun::drainLog() {
    for (const LogWalkEntry* e = m_qel.logwalk(m_client); e != nullptr && e->level != 0;
         e = m_qel.logwalk(m_client)) {
        if (m_options.verbose) {
            std::printf("  qel[%d] %s\n", e->level, e->text);
        }
        if (m_options.observer != nullptr) {
            m_options.observer->logLine(e->level, e->text);
        }
    }
}

// Hands everything waiting on the TCP connection to the session; false when the call
// must end.
bool CallRun::readTcp() {
    uint8_t buffer[8196];
    for (;;) {
        size_t n = 0;
        switch (m_tcp.receive(buffer, sizeof buffer, n)) {
        case platform::TcpStream::Status::ok:
            ++m_stats.tcpReceived;
            m_stats.bytesReceived += n;
            if (m_options.observer != nullptr) {
                m_options.observer->received(buffer, n, false);
            }
            m_qel.recvPacket(m_client, buffer, static_cast<int>(n), 0);
            break;
        case platform::TcpStream::Status::wouldBlock:
            return true;
        case platform::TcpStream::Status::closed:
            fail("the server closed the TCP connection");
            return false;
        case platform::TcpStream::Status::failed:
            fail("TCP read error: " + platform::UdpSocket::lastErrorText());
            return false;
        }
    }
}

// Hands every waiting datagram to the session. A read error (the server's port not
// reachable) only ends this round: network detection falls back to TCP by itself.
void CallRun::readUdp() {
    uint8_t buffer[8196];
    size_t n = 0;
    while (m_udp.receive(buffer, sizeof buffer, n) == platform::UdpSocket::Status::ok) {
        ++m_udpPackets;
        m_udpBytes += n;
        if (m_options.observer != nullptr) {
            m_options.observer->received(buffer, n, true);
        }
        receiveUdp(buffer, n);
    }
}

void CallRun::receiveUdp(const uint8_t* bytes, size_t n) {
    if (m_probe == nullptr) {
        m_qel.recvPacket(m_client, bytes, static_cast<int>(n), 1);
        return;
    }
    // The kernel's stamp of this datagram, kept if it turns out to carry the click.
    if (!m_socketFound) {
        m_socketFound = m_arrival.find(m_serverUdpPort);
    }
    const int64_t arrived = m_arrival.lastArrivalUs();
    const int64_t before = m_probe->queuedUs();
    m_qel.recvPacket(m_client, bytes, static_cast<int>(n), 1);
    if (before == qel::StageProbe::kNotYet && m_probe->queuedUs() != qel::StageProbe::kNotYet) {
        m_clickArrivedUs = arrived;
    }
}

void CallRun::handle(const PollEvent& event) {
    const bool quiet = event.code == E_QELEV_SEND_UDP || event.code == E_QELEV_SEND_TCP;
    if (m_options.observer != nullptr && !quiet) {
        m_options.observer->event(event.code);
    }
    if (!quiet || m_options.verbose) {
        std::printf("[%7.3f s] event %d %s", elapsed(), event.code, eventName(event.code));
        if (event.code == E_QELEV_SEND_UDP || event.code == E_QELEV_SEND_TCP) {
            std::printf(" (%d bytes)", event.length);
        }
    }
    switch (event.code) {
    case E_QELEV_UDPADDR: {
        const uint8_t* d = event.data;
        const std::string address = std::to_string(d[0]) + "." + std::to_string(d[1]) + "." +
                                    std::to_string(d[2]) + "." + std::to_string(d[3]);
        const auto port = static_cast<uint16_t>(d[4] | d[5] << 8);
        std::printf(" %s:%u\n", address.c_str(), port);
        m_udpReader.stop();
        m_serverUdpPort = port;
        m_socketFound = false;
        std::string error;
        m_udp = connectUdp(address, port, error);
        if (!m_udp.isOpen()) {
            std::printf("  UDP socket: %s (detection falls back to TCP)\n", error.c_str());
        } else if (!m_udpReader.start(m_udp, [this] { readUdp(); })) {
            std::printf("  UDP socket: no reader thread, reading at each poll step\n");
        }
        return;
    }
    case E_QELEV_NET_UDP:
    case E_QELEV_NET_TCP:
        std::printf("\n");
        m_stats.viaUdp = event.code == E_QELEV_NET_UDP;
        m_qel.connectVoice(m_client, m_options.service.c_str(), m_options.pin.c_str());
        return;
    case E_QELEV_CONNECTED:
        std::printf("\n");
        m_stats.connected = true;
        m_stats.connectMs = static_cast<uint32_t>(elapsed() * 1000);
        m_connected = true;
        m_inCall = true;
        return;
    case E_QELEV_ERROR: {
        const std::string text(reinterpret_cast<const char*>(event.data),
                               strnlen(reinterpret_cast<const char*>(event.data), sizeof event.data));
        std::printf(" %s\n", text.c_str());
        fail("session error: " + text);
        return;
    }
    case E_QELEV_SEND_UDP:
        if (m_options.verbose) std::printf("\n");
        if (m_udp.isOpen() && m_udp.send(event.data, static_cast<size_t>(event.length))) {
            ++m_stats.udpSent;
            m_stats.bytesSent += static_cast<uint64_t>(event.length);
            if (m_options.observer != nullptr) {
                m_options.observer->sent(event.data, static_cast<size_t>(event.length), true);
            }
        } else if (++m_stats.udpSendFailures > 250) {
            fail("UDP send error limit reached");
        }
        return;
    case E_QELEV_SEND_TCP:
        if (m_options.verbose) std::printf("\n");
        if (!m_tcp.sendAll(event.data, static_cast<size_t>(event.length))) {
            fail("TCP send error: " + platform::UdpSocket::lastErrorText());
        }
        ++m_stats.tcpSent;
        m_stats.bytesSent += static_cast<uint64_t>(event.length);
        if (m_options.observer != nullptr) {
            m_options.observer->sent(event.data, static_cast<size_t>(event.length), false);
        }
        return;
    case E_QELEV_DISCONNECTED:
        std::printf("\n");
        m_inCall = false;
        m_callStop = true;
        return;
    default:
        std::printf("\n");
        return;
    }
}

// The call thread: sockets in, poll events out. poll paces the loop (it waits for the
// session's next 20 ms step when it has nothing to report). Events still delivered in
// one series are handled after a stop, so the queued DISCONNECT reaches the server.
void CallRun::callThread() {
    m_qel.announce(m_client);
    while (!m_callStop) {
        if (!readTcp()) {
            break;
        }
        if (m_udp.isOpen() && !m_udpReader.running()) {
            readUdp();
        }
        PollEvent event{};
        while (m_qel.poll(m_client, &event) != 0) {
            handle(event);
            drainLog();
            event = PollEvent{};
        }
    }
    m_udpReader.stop();
    m_stats.udpReceived += m_udpPackets;
    m_stats.bytesReceived += m_udpBytes;
    m_inCall = false;
    m_callDone = true;
}

// The device clock: one buffer of 512 frames every 512/48000 s, on deadlines so that the
// pace holds over the call. A late wake-up is counted and the clock starts again from
// now, as a device that drops a period would.
void CallRun::audioThread() {
    const auto period = std::chrono::nanoseconds(1'000'000'000LL * kDeviceFrames / kDeviceRate);
    std::vector<float> in(kDeviceFrames);
    std::vector<float> out(kDeviceFrames);
    size_t micPos = 0;
    auto deadline = Clock::now() + period;
    while (!m_audioStop) {
        std::this_thread::sleep_until(deadline);
        deadline += period;
        if (Clock::now() > deadline) {
            ++m_stats.audioLate;
            deadline = Clock::now() + period;
        }
        if (!m_inCall) {
            continue;
        }
        const int64_t bufferStart = static_cast<int64_t>(micPos);
        for (int i = 0; i < kDeviceFrames; ++i, ++micPos) {
            in[i] = micPos < m_mic.samples.size() ? m_mic.samples[micPos] : 0.0f;
        }
        const float* inputs[] = {in.data()};
        float* outputs[] = {out.data()};
        if (m_probe != nullptr) {
            watchClick(in.data(), bufferStart, qel::StageProbe::nowUs());
        }
        m_qel.audioIO(m_client, inputs, 1, 1.0f, outputs, 1, 1.0f);
        if (m_probe != nullptr) {
            findClick(out.data(), qel::StageProbe::nowUs());
        }
        if (m_options.observer != nullptr) {
            m_options.observer->audio(in.data(), out.data(), kDeviceFrames);
        }
        m_heard.push(out.data(), out.size());
        ++m_stats.audioBuffers;
    }
}

std::string CallRun::run(const std::atomic<bool>& stop) {
    m_client = m_qel.getClient();
    if (m_client == nullptr) {
        return "getClient failed";
    }
    m_qel.loglevel(m_client, m_options.verbose || m_options.observer != nullptr ? 4 : 3);
    m_qel.command(m_client, 1, m_options.name.c_str());
    m_qel.setAudioFlag(m_client, 1, m_options.echoCancellation ? 1 : 0);
    if (m_options.stageTimes && m_library != nullptr) {
        m_probe = m_library->stageProbe(m_client);
        m_stats.stageProbe = m_probe != nullptr;
        m_stats.clicks.reserve(kMaxClicks);
    }
    if (m_qel.audioSetup(m_client, kDeviceRate, kDeviceFrames, kDeviceLatency) == 0) {
        m_qel.freeClient(m_client);
        return "audioSetup refused 48000 Hz / 512 frames";
    }
    std::string error;
    m_tcp = platform::TcpStream::connect(m_options.host, m_options.port, error);
    if (!m_tcp.isOpen()) {
        m_qel.freeClient(m_client);
        return error;
    }
    std::thread audio([this] { audioThread(); });
    std::thread call([this] { callThread(); });

    // Control: wait for the connection, hold the call, then hang up as the user would.
    bool hungUp = false;
    Clock::time_point hangUpAt{};
    Clock::time_point connectedAt{};
    while (!m_callDone) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        const auto now = Clock::now();
        if (m_connected && connectedAt == Clock::time_point{}) {
            connectedAt = now;
        }
        const bool timeUp = connectedAt != Clock::time_point{} &&
                            now - connectedAt >= std::chrono::duration<double>(m_options.seconds);
        if (!hungUp && (stop || timeUp)) {
            hungUp = true;
            hangUpAt = now;
            m_inCall = false;
            if (m_options.observer != nullptr) {
                m_options.observer->hangingUp();
            }
            if (m_connected) {
                m_qel.disconnect(m_client);
            } else {
                fail("interrupted before the call connected");  // timeUp needs a connection
            }
        }
        if (!m_connected && now - m_start > std::chrono::seconds(15)) {
            fail("the call did not connect within 15 s");
        }
        if (hungUp && now - hangUpAt > std::chrono::seconds(3)) {
            fail("the server did not confirm the disconnect within 3 s");
        }
    }
    call.join();
    m_audioStop = true;
    audio.join();
    drainLog();
    if (m_probe != nullptr) {
        m_probe->disarm();
    }
    m_qel.freeClient(m_client);
    std::lock_guard<std::mutex> guard(m_failureLock);
    return m_failure;
}

}  // namespace

std::string runCall(const QelEntryPoints& qel, const CallOptions& options, const MonoAudio& mic,
                    WavWriter& heard, CallStatistics& stats, const std::atomic<bool>& stop,
                    const QelLibrary* library) {
    CallRun run(qel, options, mic, heard, stats, library);
    return run.run(stop);
}

}  // namespace qelcall
