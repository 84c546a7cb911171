// Calls through the real qel-server with the real qelcall program and the built session
// library: microphone and heard audio go through WAV files as a user's would.
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tools/qel-server/tests/server_process.h"
#include "tools/qelcall/latency.h"
#include "tools/qelcall/wav_file.h"

namespace {

using qelserver::testing::ServerProcess;
namespace fs = std::filesystem;

struct RunResult {
    int status = -1;
    std::string out;  // stdout and stderr together
};

RunResult runQelcall(uint16_t port, std::vector<std::string> args) {
    std::string cmd = std::string(QELCALL_PATH) + " --qel " + QEL_LIBRARY_PATH +
                      " --server 127.0.0.1:" + std::to_string(port);
    for (const std::string& a : args) {
        cmd += " '" + a + "'";
    }
    cmd += " 2>&1";
    RunResult r;
    FILE* pipe = popen(cmd.c_str(), "r");
    if (pipe == nullptr) {
        return r;
    }
    char buffer[4096];
    size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        r.out.append(buffer, n);
    }
    const int status = pclose(pipe);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

double rms(const std::vector<float>& s, size_t from = 0) {
    double sum = 0;
    for (size_t i = from; i < s.size(); ++i) sum += double{s[i]} * s[i];
    return s.size() > from ? std::sqrt(sum / static_cast<double>(s.size() - from)) : 0;
}

// Power of `frequency` in the samples from `from` on (Goertzel), per sample squared: a
// sine of amplitude A gives A * A / 4.
double tonePower(const std::vector<float>& s, size_t from, double frequency) {
    const double c = 2 * std::cos(2 * M_PI * frequency / 48000);
    double s1 = 0;
    double s2 = 0;
    for (size_t i = from; i < s.size(); ++i) {
        const double s0 = s[i] + c * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    const double n = static_cast<double>(s.size() > from ? s.size() - from : 1);
    return (s1 * s1 + s2 * s2 - c * s1 * s2) / (n * n);
}

class QelcallTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_dir = fs::temp_directory_path() /
                ("qelcall_test_" + std::to_string(getpid()) + "_" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(m_dir);
    }
    void TearDown() override { fs::remove_all(m_dir); }

    // Bursts of a tone, 200 ms on and 200 ms off: voice-like enough that the noise
    // suppression keeps it, with pauses that the echo canceller cannot mistake for a
    // steady echo path.
    std::string toneBursts(double seconds, double frequency = 440, const char* name = "mic.wav") {
        qelcall::MonoAudio a{48000, std::vector<float>(static_cast<size_t>(seconds * 48000))};
        for (size_t i = 0; i < a.samples.size(); ++i) {
            const bool on = (i / 9600) % 2 == 0;
            a.samples[i] =
                on ? 0.3f * static_cast<float>(std::sin(2 * M_PI * frequency * i / 48000.0)) : 0.0f;
        }
        const std::string path = (m_dir / name).string();
        EXPECT_TRUE(qelcall::writeWav(path, a));
        return path;
    }

    std::string path(const char* name) const { return (m_dir / name).string(); }

    fs::path m_dir;
};

// The heard file covers the connected call in whole device buffers and carries the echo.
void expectHeardEcho(const std::string& heardPath, double seconds) {
    std::string error;
    const auto heard = qelcall::readWav(heardPath, error);
    ASSERT_TRUE(heard) << error;
    EXPECT_EQ(heard->rate, 48000);
    EXPECT_NEAR(static_cast<double>(heard->samples.size()) / 48000, seconds, 0.15);
    EXPECT_EQ(heard->samples.size() % 512, 0u);
    // The first half second holds the round trip and the jitter buffer's fill.
    EXPECT_GT(rms(heard->samples, 24000), 0.01);
}

TEST_F(QelcallTest, EchoCallOverUdpHearsTheMicrophone) {
    ServerProcess server({});
    ASSERT_TRUE(server.ready());
    const RunResult r = runQelcall(server.tcpPort(),
                                   {"--in", toneBursts(4), "--out", path("heard.wav"), "--seconds", "2"});
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("event 1 E_QELEV_UDPADDR"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("event 2 E_QELEV_NET_UDP"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("event 4 E_QELEV_CONNECTED"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("event 8 E_QELEV_DISCONNECTED"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("transport:        UDP"), std::string::npos) << r.out;
    expectHeardEcho(path("heard.wav"), 2);
}

TEST_F(QelcallTest, ServerIgnoringUdpForcesTheCallOntoTcp) {
    ServerProcess server({"--ignore-udp"});
    ASSERT_TRUE(server.ready());
    const RunResult r = runQelcall(server.tcpPort(),
                                   {"--in", toneBursts(4), "--out", path("heard.wav"), "--seconds", "2"});
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("event 3 E_QELEV_NET_TCP"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("transport:        TCP"), std::string::npos) << r.out;
    expectHeardEcho(path("heard.wav"), 2);
}

TEST_F(QelcallTest, RefusalsEndWithTheErrorTextAndFailure) {
    {
        ServerProcess server({"--refuse-announce", "status", "--refuse-error", "no calls today"});
        ASSERT_TRUE(server.ready());
        const RunResult r = runQelcall(server.tcpPort(), {"--out", path("heard.wav")});
        EXPECT_NE(r.status, 0) << r.out;
        EXPECT_NE(r.out.find("E_QELEV_ERROR"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("call failed: session error:"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("no calls today"), std::string::npos) << r.out;
        EXPECT_FALSE(fs::exists(path("heard.wav")));
    }
    {
        ServerProcess server({});
        ASSERT_TRUE(server.ready());
        const RunResult r = runQelcall(server.tcpPort(), {"--service", "no-such-service"});
        EXPECT_NE(r.status, 0) << r.out;
        EXPECT_NE(r.out.find("call failed"), std::string::npos) << r.out;
    }
    // Nobody listening: the TCP connection is refused before the session starts.
    const RunResult r = runQelcall(1, {});
    EXPECT_NE(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("cannot connect"), std::string::npos) << r.out;
}

TEST_F(QelcallTest, BadArgumentsAndInputsAreRefused) {
    EXPECT_EQ(runQelcall(1, {"--seconds", "-1"}).status, 2);
    EXPECT_EQ(runQelcall(1, {"--bogus"}).status, 2);
    qelcall::MonoAudio at16k{16000, std::vector<float>(1600)};
    ASSERT_TRUE(qelcall::writeWav(path("16k.wav"), at16k));
    const RunResult r = runQelcall(1, {"--in", path("16k.wav")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("48000"), std::string::npos) << r.out;
}

// Ctrl-C in the middle of a call hangs up properly: DISCONNECT, heard audio, success.
TEST_F(QelcallTest, InterruptHangsUpCleanly) {
    ServerProcess server({});
    ASSERT_TRUE(server.ready());
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    const std::string port = "127.0.0.1:" + std::to_string(server.tcpPort());
    const std::string heard = path("heard.wav");
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        dup2(out[1], STDERR_FILENO);
        close(out[0]);
        execl(QELCALL_PATH, QELCALL_PATH, "--qel", QEL_LIBRARY_PATH, "--server", port.c_str(),
              "--out", heard.c_str(), "--seconds", "20", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    std::string text;
    char c;
    bool signalled = false;
    while (read(out[0], &c, 1) == 1) {
        text += c;
        if (!signalled && text.find("E_QELEV_CONNECTED\n") != std::string::npos) {
            usleep(500'000);
            kill(pid, SIGINT);
            signalled = true;
        }
    }
    close(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(signalled) << text;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << text;
    EXPECT_NE(text.find("E_QELEV_DISCONNECTED"), std::string::npos) << text;
    std::string error;
    const auto a = qelcall::readWav(heard, error);
    ASSERT_TRUE(a) << error;
    EXPECT_NEAR(static_cast<double>(a->samples.size()) / 48000, 0.5, 0.2);
}

// Mouth-to-ear through echo on loopback: one click a second in the microphone.
TEST_F(QelcallTest, ClickLatencyThroughEcho) {
    qelcall::MonoAudio clicks{48000, std::vector<float>(48000 * 3)};
    for (size_t at = 24000; at + 48 < clicks.samples.size(); at += 48000) {
        for (size_t i = 0; i < 48; ++i) clicks.samples[at + i] = (i % 2 ? -0.8f : 0.8f);
    }
    ASSERT_TRUE(qelcall::writeWav(path("clicks.wav"), clicks));
    ServerProcess server({});
    ASSERT_TRUE(server.ready());
    const RunResult r = runQelcall(server.tcpPort(), {"--in", path("clicks.wav"), "--no-aec",
                                                      "--latency", "--seconds", "2.5"});
    ASSERT_EQ(r.status, 0) << r.out;
    double ms = -1;
    const size_t at = r.out.find("mouth-to-ear:");
    ASSERT_NE(at, std::string::npos) << r.out;
    std::sscanf(r.out.c_str() + at, "mouth-to-ear: %lf", &ms);
    std::printf("mouth-to-ear through echo on loopback: %.1f ms\n", ms);
    EXPECT_GT(ms, 10.0) << r.out;
    EXPECT_LT(ms, 300.0) << r.out;
}

// Two callers in one conference, each with its own tone in the microphone: each hears
// the other's tone and none of its own. A client speaks only once it has heard voice,
// so the server's silence is what starts the conversation.
TEST_F(QelcallTest, TwoCallersInAConferenceHearEachOther) {
    ServerProcess server({});
    ASSERT_TRUE(server.ready());
    struct Caller {
        double frequency;
        std::string mic;
        std::string heard;
        RunResult result;
    };
    Caller callers[2] = {{440, toneBursts(5, 440, "low.wav"), path("low-heard.wav"), {}},
                         {1100, toneBursts(5, 1100, "high.wav"), path("high-heard.wav"), {}}};
    auto call = [&](Caller& c) {
        c.result = runQelcall(server.tcpPort(), {"--service", "conference", "--pin", "77", "--in",
                                                 c.mic, "--out", c.heard, "--seconds", "3"});
    };
    std::thread first(call, std::ref(callers[0]));
    call(callers[1]);
    first.join();

    for (int i = 0; i < 2; ++i) {
        const Caller& self = callers[i];
        const Caller& other = callers[1 - i];
        ASSERT_EQ(self.result.status, 0) << self.result.out;
        std::string error;
        const auto heard = qelcall::readWav(self.heard, error);
        ASSERT_TRUE(heard) << error;
        EXPECT_NEAR(static_cast<double>(heard->samples.size()) / 48000, 3, 0.15);
        // From half a second on: the other side's gate and the jitter buffer are open.
        const double fromOther = tonePower(heard->samples, 24000, other.frequency);
        const double own = tonePower(heard->samples, 24000, self.frequency);
        // The other's bursts arrive at amplitude 0.05 or more (0.3 sent, half the time on,
        // then gain control and codec).
        EXPECT_GT(fromOther, 0.025 * 0.025 / 4 / 4) << self.frequency << " Hz caller";
        EXPECT_GT(fromOther, 1000 * own) << self.frequency << " Hz caller hears itself";
    }
}

// Echo that loses a tenth of the voice it sends back and delays the rest unevenly: the
// call holds for its whole length and carries sound, and the client's statistics count
// what went missing.
TEST_F(QelcallTest, EchoCallHoldsThroughLossAndJitter) {
    ServerProcess server({"--loss", "10", "--jitter", "30", "--seed", "11"});
    ASSERT_TRUE(server.ready());
    const RunResult r = runQelcall(server.tcpPort(), {"--in", toneBursts(6), "--out", path("heard.wav"),
                                                      "--seconds", "4", "--verbose"});
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out.find("E_QELEV_ERROR"), std::string::npos) << r.out;
    const size_t connectedAt = r.out.find("] event 4 E_QELEV_CONNECTED");
    const size_t endedAt = r.out.find("] event 8 E_QELEV_DISCONNECTED");
    ASSERT_NE(connectedAt, std::string::npos) << r.out;
    ASSERT_NE(endedAt, std::string::npos) << r.out;
    double connectedS = 0;
    double endedS = 0;
    ASSERT_EQ(std::sscanf(r.out.c_str() + r.out.rfind('[', connectedAt), "[%lf s]", &connectedS), 1);
    ASSERT_EQ(std::sscanf(r.out.c_str() + r.out.rfind('[', endedAt), "[%lf s]", &endedS), 1);
    EXPECT_GE(endedS - connectedS, 4.0) << "the call ended early:\n" << r.out;
    expectHeardEcho(path("heard.wav"), 4);

    // Every 50 received voice packets the library logs how many it received and sent
    // since the last such line; the echo returns what was sent, less the losses.
    int received = 0;
    int sent = 0;
    int lines = 0;
    for (size_t at = r.out.find("jb="); at != std::string::npos; at = r.out.find("jb=", at + 1)) {
        int jb = 0;
        int rx = 0;
        int tx = 0;
        if (std::sscanf(r.out.c_str() + at, "jb=%d, rx=%d tx=%d", &jb, &rx, &tx) == 3) {
            received += rx;
            sent += tx;
            ++lines;
        }
    }
    ASSERT_GE(lines, 2) << r.out;
    const double share = static_cast<double>(received) / sent;
    EXPECT_GT(share, 0.75) << received << " of " << sent;
    EXPECT_LT(share, 0.97) << received << " of " << sent << ": no loss seen";
    // The jitter buffer runs dry where packets are missing, after the start-up too.
    bool laterUnderrun = false;
    for (size_t at = r.out.find("Network underrun"); at != std::string::npos;
         at = r.out.find("Network underrun", at + 1)) {
        const size_t line = r.out.rfind("qel[", at);
        double when = 0;
        if (line != std::string::npos && std::sscanf(r.out.c_str() + line, "qel[%*d] %lf", &when) == 1 &&
            when > connectedS + 1.5) {
            laterUnderrun = true;
        }
    }
    EXPECT_TRUE(laterUnderrun) << r.out;

    // The log stays folded: a new "Network underrun" line at most once a second, the
    // occurrences in between counted into "Repeated N times" summaries.
    double lastRaw = -10;
    int summarised = 0;
    size_t lineStart = 0;
    while ((lineStart = r.out.find("qel[", lineStart)) != std::string::npos) {
        const size_t lineEnd = r.out.find('\n', lineStart);
        const std::string line = r.out.substr(lineStart, lineEnd - lineStart);
        lineStart = lineEnd;
        double when = 0;
        int times = 0;
        char text[64] = {};
        if (std::sscanf(line.c_str(), "qel[%*d] %lf Repeated %d times: %63[^\n]", &when, &times,
                        text) == 3) {
            if (std::string(text) == "Network underrun") {
                EXPECT_GE(times, 2) << line;
                summarised += times;
            }
        } else if (std::sscanf(line.c_str(), "qel[%*d] %lf %63[^\n]", &when, text) == 2 &&
                   std::string(text) == "Network underrun") {
            EXPECT_GE(when - lastRaw, 0.999) << "unfolded: " << line;
            lastRaw = when;
        }
        if (lineEnd == std::string::npos) {
            break;
        }
    }
    EXPECT_GT(summarised, 0) << r.out;
}

}  // namespace
