// Calls through the real qel-server with the real qelcall program and the built session
// library: microphone and heard audio go through WAV files as a user's would.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
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

// The heard file holds every device buffer of the connected call (as many as the tool
// counted) and carries the echo. A loaded machine may cost the device clock some periods
// (counted as late wake-ups), so the length may fall a little short of the call's.
void expectHeardEcho(const std::string& heardPath, double seconds, const std::string& out) {
    std::string error;
    const auto heard = qelcall::readWav(heardPath, error);
    ASSERT_TRUE(heard) << error;
    EXPECT_EQ(heard->rate, 48000);
    unsigned long long buffers = 0;
    const size_t at = out.find("audio buffers:");
    ASSERT_NE(at, std::string::npos) << out;
    ASSERT_EQ(std::sscanf(out.c_str() + at, "audio buffers: %llu", &buffers), 1) << out;
    EXPECT_EQ(heard->samples.size(), buffers * 512);
    const double length = static_cast<double>(heard->samples.size()) / 48000;
    EXPECT_LT(length, seconds + 0.15);
    EXPECT_GT(length, seconds - 0.5) << out;
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
    expectHeardEcho(path("heard.wav"), 2, r.out);
}

TEST_F(QelcallTest, ServerIgnoringUdpForcesTheCallOntoTcp) {
    ServerProcess server({"--ignore-udp"});
    ASSERT_TRUE(server.ready());
    const RunResult r = runQelcall(server.tcpPort(),
                                   {"--in", toneBursts(4), "--out", path("heard.wav"), "--seconds", "2"});
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("event 3 E_QELEV_NET_TCP"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("transport:        TCP"), std::string::npos) << r.out;
    expectHeardEcho(path("heard.wav"), 2, r.out);
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

// Seconds of audio that the file on disk declares (and holds) now, -1 while it is not a
// whole WAV file.
double secondsOnDisk(const std::string& path) {
    std::string error;
    const auto a = qelcall::readWav(path, error);
    return a ? static_cast<double>(a->samples.size()) / 48000 : -1;
}

// The header's sizes agree with the file: RIFF = file - 8, data = file - 44.
void expectSizesMatchTheFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    uint8_t h[44] = {};
    in.read(reinterpret_cast<char*>(h), sizeof h);
    const auto le32 = [&](int at) {
        return uint32_t{h[at]} | uint32_t{h[at + 1]} << 8 | uint32_t{h[at + 2]} << 16 |
               uint32_t{h[at + 3]} << 24;
    };
    const auto size = fs::file_size(path);
    EXPECT_EQ(le32(4), size - 8) << path;
    EXPECT_EQ(le32(40), size - 44) << path;
}

// qelcall started in the background on `port` with `args`; its output collected by a
// reader thread.
class BackgroundCall {
  public:
    BackgroundCall(uint16_t port, const std::vector<std::string>& args) {
        int out[2];
        if (pipe(out) != 0) return;
        const std::string server = "127.0.0.1:" + std::to_string(port);
        std::vector<std::string> argv = {QELCALL_PATH, "--qel", QEL_LIBRARY_PATH, "--server", server};
        argv.insert(argv.end(), args.begin(), args.end());
        m_pid = fork();
        if (m_pid == 0) {
            dup2(out[1], STDOUT_FILENO);
            dup2(out[1], STDERR_FILENO);
            close(out[0]);
            std::vector<char*> cargs;
            for (std::string& a : argv) cargs.push_back(a.data());
            cargs.push_back(nullptr);
            execv(QELCALL_PATH, cargs.data());
            _exit(127);
        }
        close(out[1]);
        m_reader = std::thread([this, fd = out[0]] {
            char buffer[512];
            ssize_t n = 0;
            while ((n = read(fd, buffer, sizeof buffer)) > 0) {
                std::lock_guard lock(m_mutex);
                m_text.append(buffer, static_cast<size_t>(n));
            }
            close(fd);
        });
    }
    ~BackgroundCall() {
        if (m_pid > 0 && !m_reaped) {
            kill(m_pid, SIGKILL);
            wait();
        }
        if (m_reader.joinable()) m_reader.join();
    }
    void signal(int number) const { kill(m_pid, number); }
    // The exit status (or 128 + signal), waiting at most `ms`; -1 when it is still running.
    int wait(int ms = 20000) {
        for (int waited = 0; waited <= ms; waited += 10) {
            int status = 0;
            if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_reaped = true;
                if (m_reader.joinable()) m_reader.join();
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            usleep(10'000);
        }
        return -1;
    }
    bool running() {
        return !m_reaped && waitpid(m_pid, nullptr, WNOHANG) == 0;
    }
    std::string text() {
        std::lock_guard lock(m_mutex);
        return m_text;
    }

  private:
    pid_t m_pid = -1;
    bool m_reaped = false;
    std::thread m_reader;
    std::mutex m_mutex;
    std::string m_text;
};

// Waits for `condition`, checking every 10 ms, for at most `ms`.
template <typename Condition>
bool eventually(Condition condition, int ms = 15000) {
    for (int waited = 0; waited < ms; waited += 10) {
        if (condition()) return true;
        usleep(10'000);
    }
    return condition();
}

// What the call hears reaches the disk while the call goes on, as a whole WAV file at
// every moment; Ctrl-C and a termination request hang up properly (DISCONNECT, success)
// and leave the file with its final sizes; a killed qelcall leaves a readable file too.
TEST_F(QelcallTest, HeardAudioIsWrittenAsTheCallGoesAndSurvivesSignals) {
    ServerProcess server({});
    ASSERT_TRUE(server.ready());
    for (const int number : {SIGINT, SIGTERM, SIGKILL}) {
        SCOPED_TRACE(strsignal(number));
        const std::string heard = path("heard.wav");
        fs::remove(heard);
        BackgroundCall call(server.tcpPort(), {"--out", heard, "--seconds", "60"});
        // Half a second on disk while the call is still up: written as it goes.
        ASSERT_TRUE(eventually([&] { return secondsOnDisk(heard) >= 0.5; })) << call.text();
        ASSERT_TRUE(call.running()) << call.text();
        const double before = secondsOnDisk(heard);
        call.signal(number);
        const int status = call.wait();
        const double after = secondsOnDisk(heard);
        EXPECT_GE(after, before);
        if (number == SIGKILL) {
            EXPECT_EQ(status, 128 + SIGKILL);
            EXPECT_LT(after, before + 1.0);  // at most the batches after the last look
            continue;
        }
        EXPECT_EQ(status, 0) << call.text();
        EXPECT_NE(call.text().find("E_QELEV_DISCONNECTED"), std::string::npos) << call.text();
        expectSizesMatchTheFile(heard);
        // Whole device buffers, ended within moments of the signal.
        EXPECT_EQ(std::lround(after * 48000) % 512, 0);
        EXPECT_LT(after, before + 3.0);
    }
}

// The server killed in the middle of a call, over UDP and over TCP: the TCP connection
// closes under the call, qelcall reports the failure at once (nothing hangs) and the
// heard file is finished with its sizes.
TEST_F(QelcallTest, KilledServerFailsTheCallPromptly) {
    for (const bool tcp : {false, true}) {
        SCOPED_TRACE(tcp ? "TCP" : "UDP");
        std::vector<std::string> args;
        if (tcp) args.push_back("--ignore-udp");
        ServerProcess server(args);
        ASSERT_TRUE(server.ready());
        const std::string heard = path("heard.wav");
        fs::remove(heard);
        BackgroundCall call(server.tcpPort(), {"--out", heard, "--seconds", "60"});
        ASSERT_TRUE(eventually([&] { return secondsOnDisk(heard) >= 0.3; })) << call.text();
        EXPECT_EQ(server.stop(SIGKILL), 128 + SIGKILL);
        const int status = call.wait(5000);
        ASSERT_NE(status, -1) << "qelcall still runs after the server died:\n" << call.text();
        EXPECT_EQ(status, 1) << call.text();
        // A killed process's socket closes with FIN, or with RST when data it never read
        // was still waiting in it: either is a clear end.
        EXPECT_TRUE(call.text().find("call failed: the server closed the TCP connection") != std::string::npos ||
                    call.text().find("call failed: TCP read error: Connection reset by peer") != std::string::npos)
            << call.text();
        EXPECT_NE(call.text().find(tcp ? "transport:        TCP" : "transport:        UDP"),
                  std::string::npos)
            << call.text();
        expectSizesMatchTheFile(heard);
    }
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
    // The shipped library offers no way to the stage probe.
    EXPECT_NE(r.out.find("stages:           not timed"), std::string::npos) << r.out;

    // The benchmarks' build of it times every click through the eight stages: none is
    // negative, the ones that always take time do, and without the two device buffers
    // they add up to the delay between the clicks in the two files.
    const RunResult staged = runQelcall(server.tcpPort(), {"--qel", QEL_PROBE_LIBRARY_PATH, "--in",
                                                           path("clicks.wav"), "--no-aec",
                                                           "--latency", "--seconds", "2.5"});
    ASSERT_EQ(staged.status, 0) << staged.out;
    int clicksTimed = 0;
    const size_t head = staged.out.find("stages (the median one of ");
    ASSERT_NE(head, std::string::npos) << staged.out;
    std::sscanf(staged.out.c_str() + head, "stages (the median one of %d", &clicksTimed);
    EXPECT_GE(clicksTimed, 2) << staged.out;
    const auto stage = [&](const char* name) {
        double value = -1;
        const size_t line = staged.out.find(std::string("    ") + name, head);
        EXPECT_NE(line, std::string::npos) << name << "\n" << staged.out;
        if (line != std::string::npos) {
            std::sscanf(staged.out.c_str() + line + 4 + std::strlen(name), " %lf", &value);
        }
        return value;
    };
    // The socket is read as datagrams arrive, so that stage may round to nothing.
    for (const char* name : {"capture buffer", "poll tick", "network (echo)", "call thread read",
                             "playback FIFO"}) {
        EXPECT_GE(stage(name), 0.0) << name << "\n" << staged.out;
    }
    EXPECT_GT(stage("whole frame"), 0.0) << staged.out;
    EXPECT_GT(stage("jitter buffer"), 0.0) << staged.out;
    EXPECT_GT(stage("output buffer"), 10.0) << staged.out;  // a buffer of output latency at least
    double clickToClick = -1;
    const size_t total = staged.out.find("click to click ", head);
    ASSERT_NE(total, std::string::npos) << staged.out;
    std::sscanf(staged.out.c_str() + total, "click to click %lf", &clickToClick);
    double heardMs = -1;
    std::sscanf(staged.out.c_str() + staged.out.find("mouth-to-ear:"), "mouth-to-ear: %lf", &heardMs);
    // The heard figure is the first click's, the staged one the median click's. They
    // meet the same frame and buffer phases, unless the jitter buffer took a frame of
    // delay on or off between them (a loaded machine makes it do so).
    EXPECT_NEAR(clickToClick, heardMs, 25.0) << staged.out;
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
        // A loaded machine may cost the device clock a few periods (late wake-ups).
        const double length = static_cast<double>(heard->samples.size()) / 48000;
        EXPECT_GT(length, 2.5);
        EXPECT_LT(length, 3.15);
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
    expectHeardEcho(path("heard.wav"), 4, r.out);
    // A lost frame is concealed: what the call plays has no hole of digital silence
    // inside a tone burst (the pauses between bursts are 200 ms long, holes far less).
    {
        std::string error;
        const auto heard = qelcall::readWav(path("heard.wav"), error);
        ASSERT_TRUE(heard) << error;
        const std::vector<float>& h = heard->samples;
        const size_t edge = 240;  // 5 ms of sound wanted on each side
        int holes = 0;
        for (size_t i = edge; i + edge < h.size();) {
            if (h[i] != 0.0f) {
                ++i;
                continue;
            }
            size_t end = i;
            while (end < h.size() && h[end] == 0.0f) {
                ++end;
            }
            const size_t length = end - i;
            if (length >= 48 && length < 4800 && end + edge < h.size() &&
                rms(std::vector<float>(h.begin() + static_cast<long>(i - edge), h.begin() + static_cast<long>(i))) > 0.01 &&
                rms(std::vector<float>(h.begin() + static_cast<long>(end), h.begin() + static_cast<long>(end + edge))) > 0.01) {
                ++holes;
            }
            i = end;
        }
        EXPECT_EQ(holes, 0) << "stretches of digital silence inside the heard tone";
    }

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
