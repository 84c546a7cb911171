// Calls through the real session library against the real test voice server on
// loopback, with real PortAudio on the sound server that the test run starts.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "engine/tests/server_process.h"
#include "engine/tests/tcp_test_host.h"
#include "engine/tests/eventually.h"
#include "platform/clock.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <stdexcept>

namespace tallix {
namespace {

using testing::ServerProcess;
using testing::TcpTestHost;

constexpr int kConnectMs = 8000;

using testing::eventually;

// Watches what the audio callback hands to audioIO, then forwards to the real one.
struct AudioIoWatch {
    static inline std::atomic<int> calls{0};
    static inline std::atomic<float> lastInputGain{-1};
    static inline std::atomic<float> lastOutputGain{-1};
    static inline decltype(&::audioIO) real = nullptr;
    static int audioIO(QelClient* c, const float* const* in, int ni, float gi, float* const* out,
                       int no, float go) {
        calls.fetch_add(1);
        lastInputGain.store(gi);
        lastOutputGain.store(go);
        return real ? real(c, in, ni, gi, out, no, go) : 0;
    }
};

// Watches the UDP reader thread around the session's reset: the thread that hands in
// datagrams is noted, and each reset looks whether it is still alive.
struct ReaderAtReset {
    static inline std::atomic<pid_t> reader{0};
    static inline std::atomic<int> resets{0};
    static inline std::atomic<int> besideReader{0};
    static inline decltype(&::recvPacket) realRecv = nullptr;
    static inline decltype(&::reset) realReset = nullptr;
    static int recvPacket(QelClient* c, const void* bytes, int length, int viaUdp) {
        if (viaUdp != 0) {
            reader.store(static_cast<pid_t>(syscall(SYS_gettid)));
        }
        return realRecv(c, bytes, length, viaUdp);
    }
    static void reset(QelClient* c) {
        const pid_t tid = reader.exchange(0);
        const std::string task = "/proc/self/task/" + std::to_string(tid);
        if (tid != 0 && access(task.c_str(), F_OK) == 0) {
            besideReader.fetch_add(1);
        }
        resets.fetch_add(1);
        realReset(c);
    }
};

// A host that throws once armed, at the call loop's next look at its connection: the
// call thread's clean-up then runs with the call still connected.
class ThrowingHost final : public TcpTestHost {
  public:
    using TcpTestHost::TcpTestHost;
    bool isTcpConnected() override {
        if (armed.load()) {
            throw std::runtime_error("host failed");
        }
        return TcpTestHost::isTcpConnected();
    }
    std::atomic<bool> armed{false};
};

class CallTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(engine.initialise(QEL_LIBRARY_PATH))
            << "session library or sound devices missing";
        engine.call.setCallerId("tester");
    }
    void TearDown() override {
        if (engine.call.inProgress()) {
            engine.call.end();
        }
        EXPECT_TRUE(engine.call.waitIdle(10000));
        EXPECT_FALSE(engine.streams.callOpen());
    }

    Result start(const ServerProcess& server, const std::string& service = "echo") {
        return start(server.tcpPort(), service);
    }
    Result start(unsigned port, const std::string& service = "echo") {
        host = std::make_shared<TcpTestHost>(engine.call);
        return engine.call.start({"1234", "127.0.0.1", static_cast<uint16_t>(port), service},
                                 nullptr, nullptr, false, host);
    }
    // Drains the engine's log (the way the Java host does) and looks for `needle`.
    bool logged(const std::string& needle) {
        const SessionApi& api = engine.api();
        while (const LogWalkEntry* e = api.logWalk(engine.log.manager())) {
            m_log.push_back(std::to_string(e->level) + "|" + e->text);
        }
        while (const LogWalkEntry* e = api.logWalk(engine.log.manager())) {
            m_log.push_back(std::to_string(e->level) + "|" + e->text);
        }
        for (const std::string& line : m_log) {
            if (line.find(needle) != std::string::npos) {
                return true;
            }
        }
        return false;
    }

    Engine engine{systemPortAudio()};
    std::shared_ptr<TcpTestHost> host;
    std::vector<std::string> m_log;
};

TEST_F(CallTest, UdpCallReportsStartedThenEndedAndCarriesAudio) {
    ServerProcess server;
    ASSERT_TRUE(server.running());
    SessionApi watched = engine.api();
    AudioIoWatch::real = watched.audioIO;
    watched.audioIO = &AudioIoWatch::audioIO;
    engine.streams.setSession(&watched, engine.client());

    ASSERT_EQ(start(server), Result::ok);
    EXPECT_EQ(
        engine.call.start({"99", "127.0.0.1", static_cast<uint16_t>(server.tcpPort()), "echo"},
                          nullptr, nullptr, false, std::make_shared<TcpTestHost>(engine.call)),
        Result::busy);  // never two call threads
    ASSERT_EQ(host->nextEvent(kConnectMs), "started 1234");
    EXPECT_TRUE(engine.call.inProgress());  // already when the host hears of it

    engine.controls.inputLevel.store(0.25f);
    engine.controls.outputLevel.store(0.5f);
    const int before = AudioIoWatch::calls.load();
    // 512 frames at 48 kHz: ~94 callbacks a second.
    EXPECT_TRUE(eventually([&] { return AudioIoWatch::calls.load() > before + 10; }));
    EXPECT_TRUE(eventually([] { return AudioIoWatch::lastInputGain.load() == 0.25f; }));
    EXPECT_EQ(AudioIoWatch::lastOutputGain.load(), 0.5f);
    engine.controls.inputMuted.store(true);
    EXPECT_TRUE(eventually([] { return AudioIoWatch::lastInputGain.load() == 0.0f; }));
    EXPECT_EQ(AudioIoWatch::lastOutputGain.load(), 0.5f);
    engine.controls.inputMuted.store(false);

    // A device switch in the call keeps it going on the new stream.
    ASSERT_EQ(engine.streams.changeDevices("default", "default", false), Result::ok);
    const int afterSwitch = AudioIoWatch::calls.load();
    EXPECT_TRUE(eventually([&] { return AudioIoWatch::calls.load() > afterSwitch + 2; }));
    EXPECT_EQ(engine.streams.changeDevices("No such device", nullptr, false),
              Result::deviceNotFound);
    EXPECT_FALSE(engine.streams.callOpen());
    EXPECT_TRUE(engine.call.inProgress());

    engine.call.end();
    EXPECT_EQ(host->nextEvent(kConnectMs), "ended 1234");
    ASSERT_TRUE(engine.call.waitIdle(5000));
    EXPECT_FALSE(engine.call.inProgress());
    EXPECT_TRUE(host->threadEnded());
    EXPECT_EQ(host->events().size(), 2u);
    EXPECT_TRUE(logged("Connected to QEL server"));
    EXPECT_TRUE(logged(" QEL: "));
    EXPECT_TRUE(logged("Connected to server port"));
    EXPECT_TRUE(logged("Shutting down call thread"));
    engine.controls.inputLevel.store(1.0f);
    engine.controls.outputLevel.store(1.0f);
}

TEST_F(CallTest, CallForcedOntoTcpReportsStartedThenEnded) {
    ServerProcess server({"--ignore-udp"});
    ASSERT_TRUE(server.running());
    ASSERT_EQ(start(server), Result::ok);
    ASSERT_EQ(host->nextEvent(15000), "started 1234");
    engine.call.end();
    EXPECT_EQ(host->nextEvent(kConnectMs), "ended 1234");
    // Every packet went through the host: the UDP probes went unanswered.
    EXPECT_TRUE(logged("Finished net detection, UDP=0"));
    // announce, connect and disconnect at least; keep-alive pings depend on timing.
    EXPECT_GE(host->packetsSent(), 3);
}

TEST_F(CallTest, RefusedAnnounceFailsOnceAndNeverEnds) {
    ServerProcess server({"--refuse-announce", "status", "--refuse-error", "go away"});
    ASSERT_TRUE(server.running());
    ASSERT_EQ(start(server), Result::ok);
    EXPECT_EQ(host->nextEvent(kConnectMs), "failed 1234: Received error from QEL");
    ASSERT_TRUE(engine.call.waitIdle(5000));
    EXPECT_EQ(host->events().size(), 1u);
    EXPECT_TRUE(logged("Received QEL error ["));
}

TEST_F(CallTest, SilentServerFailsOnceAndNeverEnds) {
    testing::SilentServer server;
    ASSERT_EQ(start(server.port()), Result::ok);
    EXPECT_EQ(host->nextEvent(kConnectMs), "failed 1234: Received error from QEL");
    ASSERT_TRUE(engine.call.waitIdle(5000));
    EXPECT_EQ(host->events().size(), 1u);
}

TEST_F(CallTest, UnreachableServerFailsWithoutSessionTraffic) {
    ASSERT_EQ(start(testing::closedPort()), Result::ok);
    EXPECT_EQ(host->nextEvent(kConnectMs), "failed 1234: Failed to connect to server");
    ASSERT_TRUE(engine.call.waitIdle(5000));
    EXPECT_EQ(host->packetsSent(), 0);
    EXPECT_TRUE(host->threadEnded());
    // The finished call leaves room for the next one at once.
    ServerProcess server;
    ASSERT_EQ(start(server), Result::ok);
    EXPECT_EQ(host->nextEvent(kConnectMs), "started 1234");
    engine.call.end();
    EXPECT_EQ(host->nextEvent(kConnectMs), "ended 1234");
}

TEST_F(CallTest, FailedTcpSendFailsTheCall) {
    ServerProcess server;
    host = std::make_shared<TcpTestHost>(engine.call);
    host->failSends = true;
    ASSERT_EQ(
        engine.call.start({"77", "127.0.0.1", static_cast<uint16_t>(server.tcpPort()), "echo"},
                          nullptr, nullptr, false, host),
        Result::ok);
    EXPECT_EQ(host->nextEvent(kConnectMs), "failed 77: Error sending TCP packet");
    ASSERT_TRUE(engine.call.waitIdle(5000));
    EXPECT_EQ(host->events().size(), 1u);
}

TEST_F(CallTest, EndBeforeTheConnectionOnlyLogs) {
    testing::SilentServer server;
    ASSERT_EQ(start(server.port()), Result::ok);
    // The call thread has the connection and is announcing to a server that never answers.
    ASSERT_TRUE(eventually([&] { return host->packetsSent() >= 1; }));
    engine.call.end();
    EXPECT_TRUE(logged("Attempting to end call when no call is in progress"));
    const std::shared_ptr<TcpTestHost> first = host;
    EXPECT_EQ(start(server.port()), Result::busy);  // the first call is still setting up
    host = first;
    EXPECT_EQ(host->nextEvent(kConnectMs), "failed 1234: Received error from QEL");
    EXPECT_EQ(host->events().size(), 1u);
}

// The server killed outright in the middle of a connected call, over UDP and over TCP.
// Nothing hangs: _endCall returns at once and the call thread is gone within a second.
TEST_F(CallTest, KilledServerNeitherHangsNorCrashes) {
    for (const bool tcp : {false, true}) {
        SCOPED_TRACE(tcp ? "TCP" : "UDP");
        ServerProcess server(tcp ? std::vector<std::string>{"--ignore-udp"}
                                 : std::vector<std::string>{});
        ASSERT_TRUE(server.running());
        ASSERT_EQ(start(server), Result::ok);
        ASSERT_EQ(host->nextEvent(15000), "started 1234");
        server.kill();
        // Over UDP nothing tells the session that the server is gone (the host's TCP
        // reader only sees the stream end, the datagrams go unanswered, and a connected
        // session has no timer): the call stays up until the host ends it. Over TCP the
        // next packet the host cannot send fails the call.
        const std::string told = host->nextEvent(3000);
        EXPECT_EQ(told, tcp ? "failed 1234: Error sending TCP packet" : "");
        EXPECT_EQ(engine.call.inProgress(), !tcp);
        const uint32_t before = platform::nowMs();
        engine.call.end();
        EXPECT_LT(platform::nowMs() - before, 1000u);
        EXPECT_TRUE(engine.call.waitIdle(1000));
        const std::vector<std::string> expected =
            tcp ? std::vector<std::string>{"started 1234", "failed 1234: Error sending TCP packet"}
                : std::vector<std::string>{"started 1234", "ended 1234"};
        EXPECT_EQ(host->events(), expected);
        EXPECT_TRUE(host->threadEnded());
        EXPECT_FALSE(engine.call.inProgress());
        EXPECT_FALSE(engine.streams.callOpen());
    }
}

TEST_F(CallTest, OversizedTcpPacketIsRefused) {
    std::vector<uint8_t> big(NetPacket::kCapacity + 1);
    EXPECT_FALSE(engine.call.tcpPacketReceived(big.data(), static_cast<int>(big.size())));
    EXPECT_FALSE(engine.call.tcpPacketReceived(big.data(), -1));
    EXPECT_TRUE(engine.call.tcpPacketReceived(big.data(), NetPacket::kCapacity));
    EXPECT_TRUE(logged("Refused TCP packet of 8197 bytes"));
}

// The reader thread hands datagrams to the session while the call runs; it has ended
// before the session is reset, when the call ends and when the host's exception ends
// it half way (with the session still connected).
TEST_F(CallTest, TheUdpReaderHasStoppedWhenTheSessionIsReset) {
    ServerProcess server;
    ASSERT_TRUE(server.running());
    SessionApi watched = engine.api();
    ReaderAtReset::realRecv = watched.recvPacket;
    ReaderAtReset::realReset = watched.reset;
    watched.recvPacket = &ReaderAtReset::recvPacket;
    watched.reset = &ReaderAtReset::reset;
    engine.call.setSession(&watched, engine.client());
    engine.streams.setSession(&watched, engine.client());

    for (const bool throwing : {false, true}) {
        SCOPED_TRACE(throwing ? "host throws" : "call ends");
        ReaderAtReset::resets.store(0);
        ReaderAtReset::reader.store(0);
        auto throwingHost = std::make_shared<ThrowingHost>(engine.call);
        host = throwingHost;
        ASSERT_EQ(engine.call.start({"1234", "127.0.0.1", static_cast<uint16_t>(server.tcpPort()),
                                     "echo"},
                                    nullptr, nullptr, false, host),
                  Result::ok);
        ASSERT_EQ(host->nextEvent(kConnectMs), "started 1234");
        // The echo comes back through the reader.
        EXPECT_TRUE(eventually([] { return ReaderAtReset::reader.load() != 0; }));
        if (throwing) {
            throwingHost->armed.store(true);
        } else {
            engine.call.end();
        }
        ASSERT_TRUE(engine.call.waitIdle(10000));
        EXPECT_EQ(ReaderAtReset::resets.load(), 1);
        EXPECT_EQ(ReaderAtReset::besideReader.load(), 0);
    }
    EXPECT_TRUE(logged("Call thread stopped by an exception: host failed"));
    engine.call.setSession(&engine.api(), engine.client());
    engine.streams.setSession(&engine.api(), engine.client());
}

}  // namespace
}  // namespace tallix
