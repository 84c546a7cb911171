// The sound server dies in the middle of a call. The test runs its own sound server (a
// JACK server of its own name, reached through a private ALSA configuration), so killing
// it touches no other test; the variables that point PortAudio at it are set before the
// library is first used.
#include <gtest/gtest.h>

#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "engine/engine.h"
#include "engine/stream_watchdog.h"
#include "engine/tests/eventually.h"
#include "engine/tests/server_process.h"
#include "engine/tests/tcp_test_host.h"
#include "platform/clock.h"

namespace tallix {
namespace {

using testing::eventually;
using testing::ServerProcess;
using testing::TcpTestHost;

// The sound server as this test's own child process, killed and reaped here. Its name is
// fixed for the build tree: JACK keeps a killed server's entry in its registry of (a few)
// servers until a server of the same name starts again, so a new name per run would
// use them all up.
class PrivateSoundServer {
  public:
    PrivateSoundServer()
        : m_dir("/tmp/tallix-sound-fault-" + std::to_string(getpid())),
          m_name(SOUND_FAULT_SERVER_NAME) {}
    ~PrivateSoundServer() {
        kill();
        std::filesystem::remove_all(m_dir);
    }

    // Starts the server, points this process at it and waits until it answers.
    bool start() {
        std::filesystem::create_directories(m_dir);
        setenv("HOME", m_dir.c_str(), 1);
        setenv("JACK_DEFAULT_SERVER", m_name.c_str(), 1);
        return launch();
    }
    // The same server again, after kill(): the device that comes back. The process's
    // environment is left alone (other threads read it).
    bool launch() {
        m_pid = fork();
        if (m_pid == 0) {
            execl("/bin/sh", "sh", SOUND_SERVER_SCRIPT, "run", m_dir.c_str(), m_name.c_str(),
                  static_cast<char*>(nullptr));
            _exit(127);
        }
        return m_pid > 0 && eventually([] { return std::system("jack_lsp >/dev/null 2>&1") == 0; },
                                       20000);
    }
    // SIGKILL, as a crash of the sound server would be, and reaping.
    void kill() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
            m_pid = -1;
        }
    }

  private:
    std::string m_dir;
    std::string m_name;
    pid_t m_pid = -1;
};

// Audio callbacks seen by the session library, to tell when the stream runs.
struct AudioIoCount {
    static inline std::atomic<int> calls{0};
    static inline decltype(&::audioIO) real = nullptr;
    static int audioIO(QelClient* c, const float* const* in, int ni, float gi, float* const* out, int no,
                       float go) {
        calls.fetch_add(1);
        return real(c, in, ni, gi, out, no, go);
    }
};

// What the engine's callback hands the session both ways: every captured buffer is
// replaced by a steady tone of this test's own, or by silence (the sound server's
// capture is silent), and a played buffer that carries sound is noted with its time.
struct EchoProbe {
    static inline std::atomic<bool> toneOn{true};
    static inline std::atomic<uint32_t> lastHeardMs{0};
    static inline std::atomic<uint32_t> phase{0};
    static inline decltype(&::audioIO) real = nullptr;
    static int audioIO(QelClient* c, const float* const*, int, float gi, float* const* out, int no,
                       float go) {
        float tone[CallStreams::kFramesPerBuffer];
        const float level = toneOn.load() ? 0.3f : 0.0f;
        uint32_t at = phase.load(std::memory_order_relaxed);
        for (float& sample : tone) {
            sample = level * static_cast<float>(std::sin(2 * M_PI * 440.0 * at / 48000.0));
            at = (at + 1) % 48000;
        }
        phase.store(at, std::memory_order_relaxed);
        const float* in[1] = {tone};
        const int result = real(c, in, 1, gi, out, no, go);
        float peak = 0.0f;
        for (unsigned long i = 0; no > 0 && i < CallStreams::kFramesPerBuffer; ++i) {
            peak = std::max(peak, std::fabs(out[0][i]));
        }
        if (peak > 0.05f) {
            lastHeardMs.store(platform::nowMs());
        }
        return result;
    }
    static bool heardSince(uint32_t ms) { return platform::reached(lastHeardMs.load(), ms); }
    static bool quietFor(uint32_t ms) { return platform::nowMs() - lastHeardMs.load() >= ms; }
};

// The sound server killed in a call and started again: the call never ends, and its
// audio flows again, both ways through the echo service, soon after the device is back.
TEST(SoundServerFault, SoundServerBackInACallReopensTheStreamAndTheEchoReturns) {
    PrivateSoundServer sound;
    ASSERT_TRUE(sound.start());
    ServerProcess server;
    ASSERT_TRUE(server.running());
    Engine engine{systemPortAudio()};
    ASSERT_TRUE(engine.initialise(QEL_LIBRARY_PATH));
    engine.call.setCallerId("tester");
    // Processing off: the tone comes back as the echo service returns it, with nothing
    // taken for an echo of the room and cancelled.
    for (int flag = 1; flag <= 3; ++flag) {
        ASSERT_EQ(engine.api().setAudioFlag(engine.client(), flag, 0), 1);
    }
    SessionApi watched = engine.api();
    EchoProbe::real = watched.audioIO;
    watched.audioIO = &EchoProbe::audioIO;
    engine.streams.setSession(&watched, engine.client());

    auto host = std::make_shared<TcpTestHost>(engine.call);
    ASSERT_EQ(
        engine.call.start({"1234", "127.0.0.1", static_cast<uint16_t>(server.tcpPort()), "echo"},
                          nullptr, nullptr, false, host),
        Result::ok);
    ASSERT_EQ(host->nextEvent(15000), "started 1234");
    const uint32_t connected = platform::nowMs();
    ASSERT_TRUE(eventually([&] { return EchoProbe::heardSince(connected); }, 10000))
        << "no echo before the fault";
    // Silence first, until its echo is back too: whatever the session still holds
    // when the device goes is silence, and any sound after the device's return is
    // the tone's new round trip.
    EchoProbe::toneOn.store(false);
    ASSERT_TRUE(eventually([] { return EchoProbe::quietFor(500); }, 10000));

    // The engine's log as the host drains it.
    std::vector<std::string> log;
    auto logged = [&](const std::string& text) {
        for (int walk = 0; walk < 2; ++walk) {
            while (const LogWalkEntry* e = engine.api().logWalk(engine.log.manager())) {
                log.emplace_back(e->text);
            }
        }
        return static_cast<int>(std::count_if(log.begin(), log.end(), [&](const std::string& line) {
            return line.find(text) != std::string::npos;
        }));
    };
    auto dump = [&] {
        logged("");
        std::string text;
        for (const std::string& line : log) {
            text += "  " + line + "\n";
        }
        return text;
    };

    sound.kill();
    const uint32_t killed = platform::nowMs();
    ASSERT_TRUE(eventually([&] { return logged("Audio stream lost its device") > 0; }, 10000))
        << "the dead stream went unnoticed: state "
        << static_cast<int>(engine.streams.health().state) << ", callbacks "
        << engine.streams.health().callbacks;
    std::printf("stream lost %u ms after the kill\n",
                static_cast<unsigned>(platform::nowMs() - killed));
    // The device stays away for a while, as an unplugged headset would: long enough
    // for a few attempts to open it to fail.
    platform::sleepMs(3 * StreamWatchdog::kRetryMs);
    EXPECT_FALSE(engine.streams.callOpen()) << dump();
    EXPECT_TRUE(engine.call.inProgress());
    EchoProbe::toneOn.store(true);

    // The device is back when its server answers a client; how long the server took
    // to start before that is printed too.
    const uint32_t launched = platform::nowMs();
    ASSERT_TRUE(sound.launch());
    const uint32_t back = platform::nowMs();
    ASSERT_TRUE(eventually([&] { return EchoProbe::heardSince(back); }, 10000))
        << "no echo after the device came back; log:\n"
        << dump();
    const uint32_t echoMs = platform::nowMs() - back;
    std::printf("echo back %u ms after the device (%u ms after its server was started)\n",
                static_cast<unsigned>(echoMs), static_cast<unsigned>(platform::nowMs() - launched));
    // The attempts to open it come at most kMaxRetryMs apart.
    EXPECT_LT(echoMs, StreamWatchdog::kMaxRetryMs + 2000u);
    EXPECT_EQ(engine.streams.health().state, CallStreamState::running);

    // A restart that the host asks for goes on alongside, and is no loss.
    ASSERT_EQ(engine.rescan.rescan(true), Result::ok);
    const uint32_t restarted = platform::nowMs();
    EXPECT_TRUE(eventually([&] { return EchoProbe::heardSince(restarted); }, 10000))
        << "no echo after the host's restart";
    EXPECT_EQ(engine.streams.health().state, CallStreamState::running);
    EXPECT_EQ(host->events(), std::vector<std::string>{"started 1234"}) << "the call went on";
    EXPECT_TRUE(engine.call.inProgress());
    EXPECT_EQ(logged("Audio stream lost its device"), 1);
    EXPECT_EQ(logged("Audio stream reopened after losing its device"), 1);

    engine.call.end();
    EXPECT_EQ(host->nextEvent(5000), "ended 1234");
    EXPECT_TRUE(engine.call.waitIdle(5000));
    EXPECT_FALSE(engine.streams.callOpen());
}

// The call thread and _endCall return; the next start reports a clear error at once.
TEST(SoundServerFault, KilledSoundServerEndsCleanlyAndTheNextStartFails) {
    PrivateSoundServer sound;
    ASSERT_TRUE(sound.start());
    ServerProcess server;
    ASSERT_TRUE(server.running());
    Engine engine{systemPortAudio()};
    ASSERT_TRUE(engine.initialise(QEL_LIBRARY_PATH));
    engine.call.setCallerId("tester");
    SessionApi watched = engine.api();
    AudioIoCount::real = watched.audioIO;
    watched.audioIO = &AudioIoCount::audioIO;
    engine.streams.setSession(&watched, engine.client());

    auto host = std::make_shared<TcpTestHost>(engine.call);
    ASSERT_EQ(engine.call.start({"1234", "127.0.0.1", static_cast<uint16_t>(server.tcpPort()), "echo"},
                                nullptr, nullptr, false, host),
              Result::ok);
    ASSERT_EQ(host->nextEvent(15000), "started 1234");
    ASSERT_TRUE(eventually([] { return AudioIoCount::calls.load() > 20; }));

    sound.kill();
    // The stream stops delivering buffers once its device is gone.
    int last = AudioIoCount::calls.load();
    EXPECT_TRUE(eventually([&] {
        const int now = AudioIoCount::calls.load();
        const bool still = now == last;
        last = now;
        platform::sleepMs(200);
        return still;
    }));
    const uint32_t before = platform::nowMs();
    engine.call.end();
    EXPECT_LT(platform::nowMs() - before, 1000u) << "_endCall";
    EXPECT_TRUE(engine.call.waitIdle(1000)) << "the call thread did not end";
    EXPECT_EQ(host->events(), (std::vector<std::string>{"started 1234", "ended 1234"}));
    EXPECT_FALSE(engine.streams.callOpen());

    const uint32_t again = platform::nowMs();
    host = std::make_shared<TcpTestHost>(engine.call);
    const Result result = engine.call.start(
        {"1234", "127.0.0.1", static_cast<uint16_t>(server.tcpPort()), "echo"}, nullptr, nullptr,
        false, host);
    EXPECT_LT(platform::nowMs() - again, 5000u) << "the next start hung";
    // The default device went with the server: refused as a missing device (the host's
    // DeviceNotFoundException "Cannot find audio device to start call").
    EXPECT_EQ(result, Result::deviceNotFound) << toText(result);
    EXPECT_FALSE(engine.streams.callOpen());
}

}  // namespace
}  // namespace tallix
