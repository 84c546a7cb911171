// tallix.dll under Wine on the real sound server (JACK's dummy driver behind ALSA,
// reached through Wine's WASAPI and MME drivers), driven through the JNI double as the
// Java host drives it, and calls through the native qel-server on loopback. The
// servers are started by wine_engine.py, which passes their ports in the environment.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <regex>
#include <string>
#include <vector>

#include "engine/tests/windows/tallix_dll.h"

namespace tallix_wine {
namespace {

using zephra_test::JavaCall;
using zephra_test::testJvm;
using Clock = std::chrono::steady_clock;

constexpr unsigned kCallEventMs = 30000;  // a loaded machine under Wine is slow

long long msSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

int portFromEnvironment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::atoi(value) : 0;
}

bool contains(const std::vector<std::string>& lines, const std::string& text) {
    for (const std::string& line : lines) {
        if (line.find(text) != std::string::npos) {
            return true;
        }
    }
    return false;
}

template <typename Condition>
bool waitFor(Condition condition, unsigned timeoutMs) {
    const auto start = Clock::now();
    while (!condition()) {
        if (msSince(start) > timeoutMs) {
            return false;
        }
        Sleep(10);
    }
    return true;
}

std::string joined(const std::vector<std::string>& lines) {
    std::string out;
    for (const std::string& line : lines) {
        out += "  " + line + "\n";
    }
    return out;
}

// 16-bit mono samples in native byte order, as the host hands them over.
jbyteArray toneClip(int rate, double seconds, double frequency) {
    std::vector<int16_t> samples(static_cast<std::size_t>(rate * seconds));
    for (std::size_t i = 0; i < samples.size(); ++i) {
        samples[i] =
            static_cast<int16_t>(8000 * std::sin(2 * 3.14159265358979 * frequency * i / rate));
    }
    return testJvm().newByteArray(samples.data(), samples.size() * sizeof(int16_t));
}

class TallixWineTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        ASSERT_TRUE(tallix().complete());
        ASSERT_EQ(tallix().onLoadResult, JNI_VERSION_1_4);
        s_initialised = tallix().initLibrary(testJvm().env(), nativeObject()) == JNI_TRUE;
        if (s_initialised) {
            // As the host does before its first call: names the user.
            tallix().setCallerId(testJvm().env(), nativeObject(),
                                 testJvm().newStringUtf8("Wine tester"));
        }
    }

    void SetUp() override {
        ASSERT_TRUE(s_initialised) << "_initLibrary failed; log:\n" << joined(drainLog());
        m_env = testJvm().env();
    }

    void TearDown() override {
        testJvm().clearPendingOnThisThread();
        // Nothing may be left open for the next test.
        EXPECT_TRUE(rescan(false).empty());
    }

    // The exception a native left pending ("Class: message"), cleared as the Java
    // caller would see it thrown; "" when none.
    std::string thrown() {
        const std::string pending = testJvm().pendingOnThisThread();
        testJvm().clearPendingOnThisThread();
        return pending;
    }
    std::string rescan(bool restart) {
        tallix().rescanAudioDevices(m_env, nativeObject(), restart ? JNI_TRUE : JNI_FALSE);
        return thrown();
    }
    // Waits for every stream to close: a rescan without restart refuses until then.
    bool waitStreamsClosed(unsigned timeoutMs) {
        const auto start = Clock::now();
        while (msSince(start) < timeoutMs) {
            if (rescan(false).empty()) {
                return true;
            }
            Sleep(5);
        }
        return false;
    }
    // Waits for the call thread to end: its last act is to detach itself from the VM.
    // Only then may the host's connection go.
    bool waitCallIdle(unsigned timeoutMs) {
        const auto start = Clock::now();
        while (tallix().isCallInProgress(m_env, nativeObject()) == JNI_TRUE ||
               testJvm().detaches.load() <= m_detachesAtStart) {
            if (msSince(start) > timeoutMs) {
                return false;
            }
            Sleep(10);
        }
        return true;
    }
    // A call to the server whose port wine_engine.py passed in `variable`; nothing thrown.
    void startCallTo(const char* variable) {
        const int port = portFromEnvironment(variable);
        ASSERT_NE(port, 0) << "run through wine_engine.py";
        testJvm().clearCalls();
        startCall(port);
        ASSERT_EQ(thrown(), "") << joined(drainLog());
    }

    void startCall(int port, const char* service = "echo") {
        m_detachesAtStart = testJvm().detaches.load();
        tallix().startCall(m_env, nativeObject(), testJvm().newStringUtf8("1234"),
                           testJvm().newStringUtf8("127.0.0.1"), static_cast<jshort>(port),
                           testJvm().newStringUtf8(service), nullptr, nullptr, JNI_FALSE);
    }

    JNIEnv* m_env = nullptr;
    int m_detachesAtStart = 0;
    static bool s_initialised;
};

bool TallixWineTest::s_initialised = false;

TEST_F(TallixWineTest, ListsWasapiDevicesFirstWithKeysAndOneDefaultEach) {
    testJvm().clearCalls();
    const jobject list = testJvm().newObject("com/zephra/tallix/devices/AudioDeviceList");
    tallix().listAudioDevices(m_env, nativeObject(), list);
    const std::vector<std::string> log = drainLog();

    // The host API order of this build: WASAPI, then MME; WASAPI is the one used.
    EXPECT_TRUE(contains(log, "Using PortAudio backend: Windows WASAPI")) << joined(log);
    EXPECT_TRUE(contains(log, "  [0] Windows WASAPI")) << joined(log);
    EXPECT_TRUE(contains(log, "  [1] MME")) << joined(log);

    const std::vector<JavaCall> added = testJvm().callsOf("addDevice");
    ASSERT_FALSE(added.empty()) << "Wine's WASAPI driver offered no device";
    int defaultInputs = 0;
    int defaultOutputs = 0;
    int next = 0;
    std::string name;
    for (const JavaCall& call : testJvm().calls()) {
        if (call.className != "com/zephra/tallix/devices/AudioDevice") {
            continue;
        }
        if (call.method == "setId") {
            EXPECT_EQ(call.args.at(0), std::to_string(next)) << "devices in the host API's order";
            ++next;
        } else if (call.method == "setName") {
            name = call.args.at(0);
        } else if (call.method == "setKey") {
            // name|index|inputs|outputs, two digits each
            const std::regex key(R"((.*)\|(\d\d+)\|(\d\d+)\|(\d\d+))");
            std::smatch parts;
            ASSERT_TRUE(std::regex_match(call.args.at(0), parts, key)) << call.args.at(0);
            EXPECT_EQ(parts[1].str(), name);
            EXPECT_EQ(std::stoi(parts[2].str()), next - 1);
        } else if (call.method == "setDefaultInput") {
            EXPECT_EQ(call.args.at(0), "true");  // no setter is called with false
            ++defaultInputs;
        } else if (call.method == "setDefaultOutput") {
            EXPECT_EQ(call.args.at(0), "true");
            ++defaultOutputs;
        }
    }
    EXPECT_EQ(next, static_cast<int>(added.size()));
    EXPECT_EQ(defaultInputs, 1);
    EXPECT_EQ(defaultOutputs, 1);
    for (const JavaCall& call : added) {
        EXPECT_EQ(call.target, testJvm().describe(list));
    }
}

TEST_F(TallixWineTest, TestToneRunsTwoSecondsAtTheDeviceClock) {
    const auto start = Clock::now();
    tallix().playTestTone(m_env, nativeObject(), nullptr);
    const long long elapsed = msSince(start);
    EXPECT_EQ(thrown(), "");
    EXPECT_GE(elapsed, 2000);
    EXPECT_LT(elapsed, 8000);  // plus opening the device under Wine
    EXPECT_FALSE(contains(drainLog(), "SEVERE|"));
}

// One-shot clips at rates other than the device's: each plays for its own length at
// the device clock, converted to the device's rate where the device refuses the clip's.
TEST_F(TallixWineTest, ClipsAtOtherRatesPlayForTheirLength) {
    for (const int rate : {44100, 22050, 96000}) {
        tallix().playAudioFile(m_env, nativeObject(), nullptr, toneClip(rate, 0.5, 440), rate);
        const auto start = Clock::now();
        ASSERT_EQ(thrown(), "") << rate << " Hz\n" << joined(drainLog());
        // While it plays, a plain rescan is refused.
        EXPECT_EQ(rescan(false),
                  "com/zephra/tallix/exceptions/CallInProgressException: "
                  "Cannot rescan devices - call in progress");
        ASSERT_TRUE(waitStreamsClosed(10000)) << rate << " Hz";
        const long long elapsed = msSince(start);
        EXPECT_GE(elapsed, 450) << rate << " Hz";
        EXPECT_LT(elapsed, 5000) << rate << " Hz";
        const std::vector<std::string> log = drainLog();
        EXPECT_FALSE(contains(log, "SEVERE|")) << joined(log);
        // Wine's shared-mode WASAPI device runs at its mix rate, 48 kHz.
        const std::string resampled =
            "FINE|Resampling sound clip from " + std::to_string(rate) + " Hz";
        if (contains(log, resampled)) {
            EXPECT_TRUE(contains(log, resampled + " to 48000 Hz")) << joined(log);
        }
        std::printf("clip at %d Hz: %s, played in %lld ms\n", rate,
                    contains(log, resampled) ? "resampled to 48000 Hz" : "opened at its own rate",
                    elapsed);
    }
}

TEST_F(TallixWineTest, LoopingClipSurvivesARescanWithRestart) {
    tallix().startPlayingSound(m_env, nativeObject(), nullptr, toneClip(48000, 0.25, 880), 48000);
    ASSERT_EQ(thrown(), "");
    EXPECT_NE(rescan(false), "");
    EXPECT_EQ(rescan(true), "");
    // Still playing: the restart reopened it, and a loop does not end by itself.
    Sleep(600);
    EXPECT_EQ(rescan(false),
              "com/zephra/tallix/exceptions/CallInProgressException: "
              "Cannot rescan devices - call in progress");
    tallix().stopPlayingSound(m_env, nativeObject());
    EXPECT_EQ(thrown(), "");
    EXPECT_TRUE(waitStreamsClosed(5000));
    const std::vector<std::string> log = drainLog();
    EXPECT_FALSE(contains(log, "SEVERE|")) << joined(log);
    EXPECT_FALSE(contains(log, "WARNING|Error")) << joined(log);
}

// The call's events as the host received them, in order.
std::vector<std::string> callEvents() {
    std::vector<std::string> events;
    for (const JavaCall& call : testJvm().calls()) {
        if (call.method == "callStarted" || call.method == "callEnded" ||
            call.method == "callFailed") {
            std::string event = call.method;
            for (const std::string& arg : call.args) {
                event += " " + arg;
            }
            events.push_back(event);
        }
    }
    return events;
}

TEST_F(TallixWineTest, UdpCallThroughTheServerStartsAndEnds) {
    HostConnection host;
    ASSERT_NO_FATAL_FAILURE(startCallTo("TALLIX_SERVER_PORT"));
    ASSERT_TRUE(testJvm().waitForCalls("callStarted", 1, kCallEventMs)) << joined(drainLog());
    EXPECT_TRUE(tallix().isCallInProgress(m_env, nativeObject()));
    Sleep(3000);  // three seconds of voice both ways
    const int tcpDuringCall = host.packetsSent();
    tallix().endCall(m_env, nativeObject());
    ASSERT_TRUE(testJvm().waitForCalls("callEnded", 1, kCallEventMs));
    ASSERT_TRUE(waitCallIdle(10000));
    EXPECT_EQ(callEvents(), (std::vector<std::string>{"callStarted 1234", "callEnded 1234"}));
    const std::vector<std::string> log = drainLog();
    EXPECT_TRUE(contains(log, "Finished net detection, UDP=1")) << joined(log);
    EXPECT_TRUE(contains(log, "Connected to server port")) << joined(log);
    // Voice went over the UDP socket: the host's connection carried only the session's
    // requests, not 50 voice packets a second.
    EXPECT_LT(tcpDuringCall, 40);
    EXPECT_EQ(testJvm().callsOf("disconnectNetwork").size(), 1u);
}

TEST_F(TallixWineTest, CallForcedOntoTcpCarriesVoiceThroughTheHost) {
    HostConnection host;
    ASSERT_NO_FATAL_FAILURE(startCallTo("TALLIX_TCP_ONLY_SERVER_PORT"));
    ASSERT_TRUE(testJvm().waitForCalls("callStarted", 1, kCallEventMs)) << joined(drainLog());
    const int sentAtStart = host.packetsSent();
    const int receivedAtStart = host.packetsReceived();
    Sleep(3000);
    const int sent = host.packetsSent() - sentAtStart;
    const int received = host.packetsReceived() - receivedAtStart;
    tallix().endCall(m_env, nativeObject());
    ASSERT_TRUE(testJvm().waitForCalls("callEnded", 1, kCallEventMs));
    ASSERT_TRUE(waitCallIdle(10000));
    EXPECT_EQ(callEvents(), (std::vector<std::string>{"callStarted 1234", "callEnded 1234"}));
    EXPECT_TRUE(contains(drainLog(), "Finished net detection, UDP=0"));
    // 20-ms voice frames both ways through the host's connection (150 in 3 s each way;
    // a loaded machine may lose some of the device clock).
    EXPECT_GT(sent, 75);
    EXPECT_GT(received, 75);
}

TEST_F(TallixWineTest, RefusedAnnounceFailsTheCallOnce) {
    HostConnection host;
    ASSERT_NO_FATAL_FAILURE(startCallTo("TALLIX_REFUSING_SERVER_PORT"));
    ASSERT_TRUE(testJvm().waitForCalls("callFailed", 1, kCallEventMs));
    ASSERT_TRUE(waitCallIdle(10000));
    Sleep(500);  // nothing more may come
    EXPECT_EQ(callEvents(), (std::vector<std::string>{"callFailed 1234 Received error from QEL"}));
    EXPECT_TRUE(contains(drainLog(), "Received QEL error ["));
}

// The sound server dies in a call and comes back. wine_engine.py --lose-sound-server
// kills and restarts it when this test asks (one line each way on standard output and
// input); run otherwise, the test is skipped. The call goes over TCP, so the voice that
// the host carries shows when audio flows.
TEST_F(TallixWineTest, LostSoundServerInACallIsReopenedWhenItComesBack) {
    if (std::getenv("TALLIX_SOUND_SERVER_DRIVER") == nullptr) {
        GTEST_SKIP() << "needs wine_engine.py --lose-sound-server";
    }
    auto ask = [](const char* request) {
        std::printf("DRIVER %s\n", request);
        std::fflush(stdout);
        std::string answer;
        std::getline(std::cin, answer);
        return answer;
    };
    HostConnection host;
    ASSERT_NO_FATAL_FAILURE(startCallTo("TALLIX_TCP_ONLY_SERVER_PORT"));
    ASSERT_TRUE(testJvm().waitForCalls("callStarted", 1, kCallEventMs)) << joined(drainLog());
    const int atStart = host.packetsSent();
    ASSERT_TRUE(waitFor([&] { return host.packetsSent() - atStart >= 25; }, 10000))
        << "no voice before the fault";

    ASSERT_EQ(ask("kill"), "killed");
    std::vector<std::string> log;
    auto logged = [&](const char* text) {
        for (const std::string& line : drainLog()) {
            log.push_back(line);
        }
        return contains(log, text);
    };
    ASSERT_TRUE(waitFor([&] { return logged("Audio stream lost its device"); }, 10000))
        << joined(log);
    // The device stays away a while: the engine's attempts to open it fail meanwhile.
    Sleep(750);
    const int whileGone = host.packetsSent();
    ASSERT_EQ(ask("start"), "started");
    const auto back = Clock::now();
    // Voice again: 20-ms frames at the device's pace (and a few session requests).
    ASSERT_TRUE(waitFor([&] { return host.packetsSent() - whileGone >= 10; }, 10000))
        << joined(log);
    const long long flowing = msSince(back);
    std::printf("voice flows again %lld ms after the device is back\n", flowing);
    // The engine tries again at most 4 s apart while a device stays away.
    EXPECT_LT(flowing, 4000 + 2000);
    EXPECT_TRUE(
        waitFor([&] { return logged("Audio stream reopened after losing its device"); }, 5000))
        << joined(log);
    EXPECT_EQ(callEvents(), std::vector<std::string>{"callStarted 1234"}) << "the call went on";

    tallix().endCall(m_env, nativeObject());
    ASSERT_TRUE(testJvm().waitForCalls("callEnded", 1, kCallEventMs));
    ASSERT_TRUE(waitCallIdle(10000));
}

}  // namespace
}  // namespace tallix_wine
