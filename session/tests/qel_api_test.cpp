#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "platform/dynamic_library.h"
#include "session/qel_api.h"

extern "C" int qelTestVlog(QelLogManager* log, int level, const char* format, ...);
extern "C" int qelTestClientRoundTrip(void);
extern "C" int qelTestPollRoundTrip(const char* recording, int (*poll)(QelClient*, PollEvent*));
#if !defined(_WIN32)
extern "C" int qelTestLibcPollFails(void);
#endif
extern "C" int qelTestAudio(void);

namespace {

TEST(QelApi, ACallerInCDrivesAClientThroughTheExports) { EXPECT_EQ(qelTestClientRoundTrip(), 0); }

using PollFunction = int (*)(QelClient*, PollEvent*);

// qel's poll, found by name in the library as the voice engine finds it.
PollFunction qelPoll() {
    static platform::DynamicLibrary library = platform::DynamicLibrary::open(QEL_LIBRARY_PATH);
    return library ? reinterpret_cast<PollFunction>(library.symbol("poll")) : nullptr;
}

TEST(QelApi, ACallerInCDrivesTheNetworkEntryPoints) {
    ASSERT_NE(qelPoll(), nullptr);
    const auto path = std::filesystem::temp_directory_path() / "qel_api_test.wav";
    EXPECT_EQ(qelTestPollRoundTrip(path.string().c_str(), qelPoll()), 0);
    EXPECT_EQ(std::filesystem::file_size(path), 44u) << "the disconnect ended the recording";
    std::filesystem::remove(path);
}

#if !defined(_WIN32)
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitizerRuntime = true;
#else
constexpr bool kSanitizerRuntime = false;
#endif

// qel exports a function named poll; other libraries in the process keep the C
// library's.
TEST(QelApi, OtherLibrariesStillReachTheCLibrarysPoll) {
    if (kSanitizerRuntime) {
        // The sanitizer's own poll comes first and finds the "real" one by plain name,
        // which in a program linked with qel is qel's: such programs load qel with
        // dlopen instead, as the voice engine does.
        GTEST_SKIP() << "a sanitizer runtime intercepts poll";
    }
    EXPECT_EQ(qelTestLibcPollFails(), 1);
}
#endif

TEST(QelApi, ACallerInCSetsUpAndDrivesTheAudio) { EXPECT_EQ(qelTestAudio(), 0); }

TEST(QelApi, VersionNeedsNoClient) { EXPECT_STREQ(version(), "1.0.0"); }

TEST(QelApi, NullHandlesAreIgnored) {
    freeClient(nullptr);
    reset(nullptr);
    LogManager_freeLogManager(nullptr);
    EXPECT_EQ(active(nullptr), 0);
    EXPECT_EQ(announce(nullptr), 0);
    PollEvent event;
    ASSERT_NE(qelPoll(), nullptr);
    EXPECT_EQ(qelPoll()(nullptr, &event), 0);
    EXPECT_EQ(recvPacket(nullptr, "x", 1, 0), 0);
    EXPECT_EQ(record(nullptr, "x.wav"), 0);
    EXPECT_EQ(recordpost(nullptr, "x.wav"), 0);
    EXPECT_EQ(audioSetup(nullptr, 48000, 512, 0), 0);
    EXPECT_EQ(audioIO(nullptr, nullptr, 0, 1.0f, nullptr, 0, 1.0f), 0);
    EXPECT_EQ(setAudioFlag(nullptr, 1, 1), 0);
    EXPECT_EQ(getAudioFlag(nullptr, 1), 0);
    EXPECT_EQ(logwalk(nullptr), nullptr);
    EXPECT_EQ(LogManager_logWalk(nullptr), nullptr);
}

TEST(QelApi, ALogManagerTakesAStartedArgumentList) {
    QelLogManager* log = LogManager_createLogManager();
    ASSERT_NE(log, nullptr);
    LogManager_setLogLevel(log, 5);
    EXPECT_EQ(qelTestVlog(log, 5, "%s has %d devices", "host", 3), 1);
    EXPECT_EQ(qelTestVlog(log, 6, "too fine"), 0);
    const LogWalkEntry* e = LogManager_logWalk(log);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->level, 5);
    EXPECT_EQ(std::string(e->text + 9), "host has 3 devices");
    EXPECT_EQ(LogManager_logWalk(log), nullptr);
    qelTestVlog(log, 1, "gone");
    LogManager_clearLogs(log);
    EXPECT_EQ(LogManager_logWalk(log), nullptr);
    EXPECT_EQ(LogManager_logWalk(log), nullptr);
    LogManager_freeLogManager(log);
}

}  // namespace
