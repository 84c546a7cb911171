// tallix_call.exe PORT SERVICE PIN SECONDS [--no-aec] [--no-agc] [--no-ns]
// One call through tallix.dll as the Java host makes it (the JNI double, the host's TCP
// connection on a Winsock socket), on the default devices, to the voice server on
// 127.0.0.1:PORT, held SECONDS once started; prints the call's events and the engine's
// log. For measuring a call from outside the engine (bench/ear_probe.sh); not a test.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "engine/tests/windows/tallix_dll.h"

using tallix_wine::nativeObject;
using tallix_wine::tallix;
using zephra_test::testJvm;

namespace {

void printLog() {
    for (const std::string& line : tallix_wine::drainLog()) {
        std::printf("log %s\n", line.c_str());
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    if (argc < 5) {
        std::fprintf(
            stderr,
            "usage: tallix_call.exe PORT SERVICE PIN SECONDS [--no-aec] [--no-agc] [--no-ns]\n");
        return 2;
    }
    if (!tallix().complete() || tallix().onLoadResult != JNI_VERSION_1_4) {
        std::fprintf(stderr, "tallix_call: tallix.dll did not load (native\\qel.dll beside it?)\n");
        return 1;
    }
    JNIEnv* env = testJvm().env();
    if (tallix().initLibrary(env, nativeObject()) != JNI_TRUE) {
        printLog();
        std::fprintf(stderr, "tallix_call: _initLibrary failed\n");
        return 1;
    }
    for (int i = 5; i < argc; ++i) {
        const auto off = [&](auto setter) {
            if (setter != nullptr)
                setter(env, nativeObject(), JNI_FALSE);
        };
        if (std::strcmp(argv[i], "--no-aec") == 0)
            off(tallix().setAecEnabled);
        else if (std::strcmp(argv[i], "--no-agc") == 0)
            off(tallix().setAgcEnabled);
        else if (std::strcmp(argv[i], "--no-ns") == 0)
            off(tallix().setNoiseSuppressionEnabled);
    }
    tallix().setCallerId(env, nativeObject(), testJvm().newStringUtf8("tallix_call"));
    tallix_wine::HostConnection host;
    tallix().startCall(env, nativeObject(), testJvm().newStringUtf8(argv[3]),
                       testJvm().newStringUtf8("127.0.0.1"),
                       static_cast<jshort>(std::atoi(argv[1])), testJvm().newStringUtf8(argv[2]),
                       nullptr, nullptr, JNI_FALSE);
    const std::string thrown = testJvm().pendingOnThisThread();
    if (!thrown.empty()) {
        printLog();
        std::fprintf(stderr, "tallix_call: _startCall threw %s\n", thrown.c_str());
        return 1;
    }
    if (!testJvm().waitForCalls("callStarted", 1, 30000)) {
        printLog();
        std::fprintf(stderr, "tallix_call: the call did not start\n");
        return 1;
    }
    std::printf("event started\n");
    const DWORD end = GetTickCount() + static_cast<DWORD>(std::atof(argv[4]) * 1000);
    while (static_cast<LONG>(end - GetTickCount()) > 0) {
        Sleep(500);
        printLog();
    }
    tallix().endCall(env, nativeObject());
    const bool ended = testJvm().waitForCalls("callEnded", 1, 10000);
    std::printf("event %s\n", ended ? "ended" : "(no end)");
    // The call thread's last act is to close the stream and detach; give it that time.
    Sleep(1000);
    printLog();
    return ended ? 0 : 1;
}
