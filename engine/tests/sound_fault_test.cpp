// The sound server dies in the middle of a call. The test runs its own sound server (a
// JACK server of its own name, reached through a private ALSA configuration), so killing
// it touches no other test; the variables that point PortAudio at it are set before the
// library is first used.
#include <gtest/gtest.h>

#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <string>

#include "engine/engine.h"
#include "engine/tests/eventually.h"
#include "engine/tests/server_process.h"
#include "engine/tests/tcp_test_host.h"
#include "platform/clock.h"

namespace tallix {
namespace {

using testing::eventually;
using testing::ServerProcess;
using testing::TcpTestHost;

class PrivateSoundServer {
  public:
    PrivateSoundServer()
        : m_dir("/tmp/tallix-sound-fault-" + std::to_string(getpid())),
          m_name("tallix-fault-" + std::to_string(getpid())) {}
    ~PrivateSoundServer() { run("stop"); }

    // Starts the server and points this process at it.
    bool start() {
        if (!run("start")) {
            return false;
        }
        setenv("HOME", m_dir.c_str(), 1);
        setenv("JACK_DEFAULT_SERVER", m_name.c_str(), 1);
        return true;
    }
    // SIGKILL to the JACK process, as a crash of the sound server would be.
    void kill() {
        pid_t pid = 0;
        std::ifstream(m_dir + "/jackd.pid") >> pid;
        if (pid > 0) {
            ::kill(pid, SIGKILL);
        }
    }

  private:
    bool run(const char* command) {
        const std::string line = std::string("sh '") + SOUND_SERVER_SCRIPT + "' " + command + " '" +
                                 m_dir + "' '" + m_name + "' >/dev/null";
        return std::system(line.c_str()) == 0;
    }
    std::string m_dir;
    std::string m_name;
};

// Audio callbacks seen by the session library, to tell when the stream runs.
struct AudioIoCount {
    static inline std::atomic<int> calls{0};
    static inline int (*real)(QelClient*, float**, int, float, float**, int, float) = nullptr;
    static int audioIO(QelClient* c, float** in, int ni, float gi, float** out, int no, float go) {
        calls.fetch_add(1);
        return real(c, in, ni, gi, out, no, go);
    }
};

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
