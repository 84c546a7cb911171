// The command pipe served by Taskelle, with Hushlet.exe and test clients at the other
// end and the test virtual machine recording onJumpListClick.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "launchers/hushlet/relay.h"
#include "platform/win32_handle.h"
#include "support/output_capture.h"
#include "support/taskelle_library.h"
#include "tests/support/test_jvm.h"

namespace taskbar_test {
namespace {

const wchar_t* const kPipe = L"\\\\.\\pipe\\zephracommspipe";

std::wstring programDirectory() {
    wchar_t path[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dir(path, n);
    return dir.substr(0, dir.find_last_of(L'\\'));
}

// Runs Hushlet.exe with `arguments` after its name; its exit code and run time.
DWORD runHushlet(const std::wstring& arguments, DWORD* elapsedMs = nullptr) {
    std::wstring commandLine = L"\"" + programDirectory() + L"\\Hushlet.exe\" " + arguments;
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    const DWORD start = GetTickCount();
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        return 0xDEAD;
    }
    platform::UniqueHandle process(pi.hProcess);
    platform::UniqueHandle thread(pi.hThread);
    WaitForSingleObject(pi.hProcess, 60000);
    if (elapsedMs != nullptr) {
        *elapsedMs = GetTickCount() - start;
    }
    DWORD code = 0xDEAD;
    GetExitCodeProcess(pi.hProcess, &code);
    return code;
}

// A test client in message mode; waits up to about five seconds for the server.
platform::UniqueFileHandle connectClient() {
    for (int i = 0; i < 250; ++i) {
        platform::UniqueFileHandle pipe(
            CreateFileW(kPipe, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        if (pipe) {
            DWORD mode = PIPE_READMODE_MESSAGE;
            SetNamedPipeHandleState(pipe.get(), &mode, nullptr, nullptr);
            return pipe;
        }
        if (!WaitNamedPipeW(kPipe, 200)) {
            Sleep(20);
        }
    }
    return {};
}

bool sendBytes(HANDLE pipe, const void* data, DWORD bytes) {
    DWORD written = 0;
    return WriteFile(pipe, data, bytes, &written, nullptr) && written == bytes;
}

bool sendText(HANDLE pipe, const std::u16string& text) {
    return sendBytes(pipe, text.c_str(), static_cast<DWORD>((text.size() + 1) * 2));
}

// Reads one reply; true when it is the empty message.
bool receiveEmptyReply(HANDLE pipe) {
    char buffer[64];
    DWORD read = 1;
    return ReadFile(pipe, buffer, sizeof(buffer), &read, nullptr) && read == 0;
}

std::vector<std::u16string> clickTexts() {
    std::vector<std::u16string> texts;
    for (const ClickCall& call : testJvm().clicks()) {
        texts.push_back(call.text);
    }
    return texts;
}

// Runs before the server is started (the suites run in the order they appear).
TEST(HushletWithoutServer, ExitsAtOnceWithCodeZero) {
    ASSERT_FALSE(WaitNamedPipeW(kPipe, 0)) << "a command pipe server is already running";
    DWORD elapsed = 0;
    EXPECT_EQ(runHushlet(L"--open x", &elapsed), 0u);
    EXPECT_LT(elapsed, 10000u);
}

// A one-instance server of the pipe name, in place of Taskelle's: serves one request
// and reports the impersonation level its client allowed.
class ImpostorServer {
public:
    ImpostorServer()
        : m_pipe(CreateNamedPipeW(kPipe, PIPE_ACCESS_DUPLEX, PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1,
                                  8192, 8192, 5000, nullptr)) {
        if (m_pipe) {
            m_thread = std::thread([this] { serveOne(); });
        }
    }
    ~ImpostorServer() {
        if (m_thread.joinable()) {
            m_thread.join();
        }
    }
    bool ready() const { return static_cast<bool>(m_pipe); }
    // Waits for the request to have been served; 0 when the client could not be impersonated.
    int levelSeen() {
        m_thread.join();
        return m_level;
    }

private:
    void serveOne() {
        if (!ConnectNamedPipe(m_pipe.get(), nullptr) && GetLastError() != ERROR_PIPE_CONNECTED) {
            return;
        }
        char request[8192];
        DWORD read = 0;
        ReadFile(m_pipe.get(), request, sizeof request, &read, nullptr);
        if (ImpersonateNamedPipeClient(m_pipe.get())) {
            HANDLE token = nullptr;
            if (OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token)) {
                SECURITY_IMPERSONATION_LEVEL level = SecurityAnonymous;
                DWORD size = 0;
                if (GetTokenInformation(token, TokenImpersonationLevel, &level, sizeof level, &size)) {
                    m_level = static_cast<int>(level) + 1;  // 0 stays "not impersonated"
                }
                CloseHandle(token);
            }
            RevertToSelf();
        }
        DWORD written = 0;
        WriteFile(m_pipe.get(), request, 0, &written, nullptr);
        FlushFileBuffers(m_pipe.get());
        DisconnectNamedPipe(m_pipe.get());
    }

    platform::UniqueFileHandle m_pipe;
    std::thread m_thread;
    int m_level = 0;
};

// Runs before the server is started: a process that made the pipe name first serves
// Hushlet itself, and may identify it but not act as it.
TEST(HushletWithoutServer, AServerInItsPlaceCanOnlyIdentifyIt) {
    {
        // Whether this platform keeps the level a client asks for: Wine 8 does not (it
        // impersonates at SecurityImpersonation whatever the client asked).
        ImpostorServer probe;
        ASSERT_TRUE(probe.ready());
        platform::UniqueFileHandle client(CreateFileW(kPipe, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                                      SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr));
        ASSERT_TRUE(client);
        ASSERT_TRUE(sendText(client.get(), u"probe"));
        receiveEmptyReply(client.get());
        const int level = probe.levelSeen();
        if (level != SecurityIdentification + 1) {
            GTEST_SKIP() << "this platform does not keep a pipe client's impersonation level (got "
                         << level - 1 << " for a client asking for identification)";
        }
    }
    ImpostorServer impostor;
    ASSERT_TRUE(impostor.ready());
    EXPECT_EQ(runHushlet(L"--open x"), 0u);
    EXPECT_EQ(impostor.levelSeen(), SecurityIdentification + 1);
}

int g_attachesBeforeServer = 0;
bool g_serverStarted = false;

void startServer() {
    if (!g_serverStarted) {
        TestJvm& jvm = testJvm();
        g_attachesBeforeServer = jvm.attaches;
        taskelle().init(jvm.env(), jvm.hostObject(), jvm.newString(u""));
        g_serverStarted = true;
    }
}

std::size_t countOf(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++n;
    }
    return n;
}

// Runs while no server is up: another process's single-instance pipe of the same
// name makes every CreateNamedPipeW of the server fail.
TEST(PipeServerStart, RetriesOnceAtOnceThenAfterAPauseWhileNoInstanceCanBeMade) {
    ASSERT_TRUE(taskelle().complete());
    platform::UniqueFileHandle squatter(CreateNamedPipeW(kPipe, PIPE_ACCESS_DUPLEX, PIPE_TYPE_MESSAGE, 1, 512, 512,
                                                         0, nullptr));
    ASSERT_TRUE(squatter);
    std::string printed;
    DWORD at[4] = {};  // when the first to fourth failure message was seen
    {
        OutputCapture output;
        startServer();
        // Watches the messages arrive (for ten seconds at most).
        const DWORD start = GetTickCount();
        while (at[3] == 0 && GetTickCount() - start < 10000) {
            printed = output.out();
            const std::size_t failures = countOf(printed, "CreateNamedPipe failed with ");
            const DWORD now = GetTickCount();
            for (std::size_t i = 0; i < failures && i < 4; ++i) {
                if (at[i] == 0) {
                    at[i] = now;
                }
            }
            Sleep(10);
        }
    }
    // The first failure is tried again at once, then about once a second: neither
    // silent nor spinning.
    ASSERT_NE(at[3], 0u) << "fewer than four failure messages in 10 s:\n" << printed;
    EXPECT_LT(at[1] - at[0], 1000u) << "the second try came after a pause:\n" << printed;
    const DWORD twoPauses = at[3] - at[1];
    EXPECT_GE(twoPauses, 1500u) << printed;
    EXPECT_LE(twoPauses, 4000u) << printed;
    squatter.reset();

    // Once the name is free the server makes its instance and serves.
    auto client = connectClient();
    ASSERT_TRUE(client);
    ASSERT_TRUE(sendText(client.get(), u"served at last"));
    EXPECT_TRUE(receiveEmptyReply(client.get()));
    EXPECT_EQ(testJvm().clicks().back().text, u"served at last");
}

class PipeServer : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ASSERT_TRUE(taskelle().complete());
        startServer();
        for (int i = 0; i < 100 && !WaitNamedPipeW(kPipe, 100); ++i) {
            Sleep(50);
        }
    }
    void SetUp() override {
        jvm.clearClicks();
        jvm.setCallDurationMs(0);
        jvm.throwOn(u"");
    }

    TestJvm& jvm = testJvm();
};

TEST_F(PipeServer, HushletRelaysItsArgumentsExactlyAndWaitsForTheCall) {
    EXPECT_EQ(runHushlet(L"  --open \"C:\\My Files\\a  b.txt\"   last  "), 0u);
    // No waiting: the reply, and so Hushlet's exit, comes after the call returned.
    EXPECT_EQ(clickTexts(), (std::vector<std::u16string>{u"--open \"C:\\My Files\\a  b.txt\"   last  "}));
    EXPECT_EQ(runHushlet(L""), 0u);
    EXPECT_EQ(clickTexts().back(), u"");
    EXPECT_EQ(jvm.liveLocalStrings, 0);
}

TEST_F(PipeServer, HushletWithAnOverlongCommandLineIsRefusedAndStillExitsZero) {
    EXPECT_EQ(runHushlet(std::wstring(5000, L'x')), 0u);
    EXPECT_EQ(runHushlet(L"next"), 0u);
    EXPECT_EQ(clickTexts(), (std::vector<std::u16string>{u"next"}));
}

TEST_F(PipeServer, TwoRequestsOnOneConnectionGiveTwoCallsAndTwoReplies) {
    auto client = connectClient();
    ASSERT_TRUE(client);
    ASSERT_TRUE(sendText(client.get(), u"a much longer first request"));
    EXPECT_TRUE(receiveEmptyReply(client.get()));
    // The second request comes without its zero unit: its text must end where its
    // bytes end, not run on into what is left of the first one in the server's buffer.
    ASSERT_TRUE(sendBytes(client.get(), u"abc", 6));
    EXPECT_TRUE(receiveEmptyReply(client.get()));
    EXPECT_EQ(clickTexts(), (std::vector<std::u16string>{u"a much longer first request", u"abc"}));
}

TEST_F(PipeServer, OverlongRequestClosesTheConnectionWithoutACall) {
    auto client = connectClient();
    ASSERT_TRUE(client);
    const std::vector<char> request(9000, 'a');
    sendBytes(client.get(), request.data(), static_cast<DWORD>(request.size()));
    char buffer[16];
    DWORD read = 0;
    EXPECT_FALSE(ReadFile(client.get(), buffer, sizeof(buffer), &read, nullptr));
    EXPECT_TRUE(jvm.clicks().empty());

    // An overlong request that is already waiting when the server starts its next
    // read (the client sends it before taking the reply to its first) ends the
    // connection just the same, and only once.
    {
        jvm.setCallDurationMs(200);
        OutputCapture output;
        auto eager = connectClient();
        ASSERT_TRUE(eager);
        ASSERT_TRUE(sendText(eager.get(), u"first"));
        sendBytes(eager.get(), request.data(), static_cast<DWORD>(request.size()));
        // The reply to "first" may be lost with the connection (a disconnect drops
        // what the client has not read); after it, the pipe is closed.
        receiveEmptyReply(eager.get());
        EXPECT_FALSE(ReadFile(eager.get(), buffer, sizeof(buffer), &read, nullptr));
        EXPECT_EQ(output.out(), "");
        jvm.setCallDurationMs(0);
    }
    EXPECT_EQ(clickTexts(), (std::vector<std::u16string>{u"first"}));
    jvm.clearClicks();

    // The largest request that fits still gets through.
    auto next = connectClient();
    ASSERT_TRUE(next);
    ASSERT_TRUE(sendText(next.get(), std::u16string(4095, u'y')));
    EXPECT_TRUE(receiveEmptyReply(next.get()));
    ASSERT_EQ(jvm.clicks().size(), 1u);
    EXPECT_EQ(jvm.clicks()[0].text.size(), 4095u);
}

TEST_F(PipeServer, ClientThatLeavesWithoutSendingCausesNoCall) {
    {
        auto client = connectClient();
        ASSERT_TRUE(client);
    }
    auto next = connectClient();
    ASSERT_TRUE(next);
    ASSERT_TRUE(sendText(next.get(), u"after"));
    EXPECT_TRUE(receiveEmptyReply(next.get()));
    EXPECT_EQ(clickTexts(), (std::vector<std::u16string>{u"after"}));
}

// A client that connects and leaves at once may take the waiting instance before it
// is connected, which refuses the connect. The relay right behind it must still find
// the pipe and get its command line through: through the relay code itself, and
// through Hushlet.exe.
TEST_F(PipeServer, RelayRightAfterAClientThatLeftAtOnceArrives) {
    constexpr int kRounds = 20;
    std::vector<std::u16string> expected;
    for (int round = 0; round < kRounds; ++round) {
        const bool throughProgram = round % 5 == 4;
        std::wstring text = std::wstring(throughProgram ? L"program" : L"relay") + L" after leaver " +
                            std::to_wstring(round);
        {
            platform::UniqueFileHandle leaver(
                CreateFileW(kPipe, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        }
        const int result = throughProgram ? static_cast<int>(runHushlet(text)) : hushlet::relay(text);
        EXPECT_EQ(result, 0) << "round " << round;
        expected.emplace_back(text.begin(), text.end());
    }
    EXPECT_EQ(clickTexts(), expected);
}

TEST_F(PipeServer, ClientsAtOnceAreAllServedOneCallAtATimeOnOneThread) {
    jvm.setCallDurationMs(20);
    constexpr int kClients = 4;
    constexpr int kRequests = 3;
    std::vector<std::thread> clients;
    std::atomic<int> replies{0};
    for (int c = 0; c < kClients; ++c) {
        clients.emplace_back([c, &replies] {
            auto client = connectClient();
            for (int r = 0; client && r < kRequests; ++r) {
                const std::u16string text = u"client " + std::u16string(1, char16_t(u'0' + c)) + u" request " +
                                            std::u16string(1, char16_t(u'0' + r));
                if (sendText(client.get(), text) && receiveEmptyReply(client.get())) {
                    ++replies;
                }
            }
        });
    }
    for (auto& t : clients) {
        t.join();
    }
    EXPECT_EQ(replies, kClients * kRequests);
    const auto calls = jvm.clicks();
    ASSERT_EQ(calls.size(), static_cast<std::size_t>(kClients * kRequests));
    EXPECT_EQ(jvm.maxConcurrentCalls, 1);
    for (const ClickCall& call : calls) {
        EXPECT_EQ(call.threadId, calls[0].threadId);
        EXPECT_NE(call.threadId, GetCurrentThreadId());
    }
    // The server thread attached itself once, on its first request.
    EXPECT_EQ(jvm.attaches, g_attachesBeforeServer + 1);
}

TEST_F(PipeServer, TextOutsideAsciiAndOutsideTheBmpArrivesUnchanged) {
    const std::u16string texts[] = {u"caf\u00e9 \u00fc\u00df \u4e2d\u6587", u"smile \U0001F600 end",
                                    u"\U00010348\U0001D11E"};
    auto client = connectClient();
    ASSERT_TRUE(client);
    for (const auto& text : texts) {
        ASSERT_TRUE(sendText(client.get(), text));
        EXPECT_TRUE(receiveEmptyReply(client.get()));
    }
    EXPECT_EQ(clickTexts(), (std::vector<std::u16string>(std::begin(texts), std::end(texts))));
}

TEST_F(PipeServer, UnpairedSurrogateIsDeliveredAsTheEmptyString) {
    auto client = connectClient();
    ASSERT_TRUE(client);
    const char16_t lone[] = {u'a', 0xD800, u'b', 0};
    ASSERT_TRUE(sendBytes(client.get(), lone, sizeof(lone)));
    EXPECT_TRUE(receiveEmptyReply(client.get()));
    EXPECT_EQ(clickTexts(), (std::vector<std::u16string>{u""}));
}

TEST_F(PipeServer, ExceptionFromTheHostIsDescribedAndServingGoesOn) {
    jvm.throwOn(u"boom");
    const int described = jvm.describedExceptions;
    auto client = connectClient();
    ASSERT_TRUE(client);
    ASSERT_TRUE(sendText(client.get(), u"boom"));
    EXPECT_TRUE(receiveEmptyReply(client.get()));
    ASSERT_TRUE(sendText(client.get(), u"fine"));
    EXPECT_TRUE(receiveEmptyReply(client.get()));
    EXPECT_EQ(clickTexts(), (std::vector<std::u16string>{u"boom", u"fine"}));
    EXPECT_EQ(jvm.describedExceptions, described + 1);
    EXPECT_FALSE(jvm.pendingException);
}

TEST_F(PipeServer, RemoteLookingClientIsRefused) {
    wchar_t computer[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    ASSERT_TRUE(GetComputerNameW(computer, &size));
    const std::wstring remoteName = std::wstring(L"\\\\") + computer + L"\\pipe\\zephracommspipe";
    platform::UniqueFileHandle pipe(
        CreateFileW(remoteName.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    const DWORD error = GetLastError();
    if (!pipe) {
        if (error == ERROR_ACCESS_DENIED) {
            SUCCEED();
            return;
        }
        GTEST_SKIP() << "Wine cannot open a pipe by a network name here (error " << error
                     << "), so a remote client cannot be shown";
    }
    ASSERT_TRUE(sendText(pipe.get(), u"from afar"));
    const bool replied = receiveEmptyReply(pipe.get());
    if (replied && !jvm.clicks().empty()) {
        GTEST_SKIP() << "Wine treats a pipe opened by the computer's name as a local client";
    }
    EXPECT_TRUE(jvm.clicks().empty());
}

}  // namespace
}  // namespace taskbar_test
