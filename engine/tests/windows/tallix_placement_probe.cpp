// Loads tallix.dll from the full path it is given, as the Java host does, runs
// JNI_OnLoad and _initLibrary with the virtual machine double, and prints what it saw:
//   bound true|false
//   version <what _getLibraryVersion returned, through the bound session library>
//   loaded <name> <full path of the module>     for qel.dll and avrt.dll, when loaded
// session_library_placement.py runs it in prepared folders.
#include <windows.h>

#include <jni.h>

#include <cstdio>
#include <string>

#include "platform/utf.h"
#include "tests/support/test_jvm.h"

namespace {

std::string modulePath(HMODULE module) {
    wchar_t path[MAX_PATH * 4];
    const DWORD n = GetModuleFileNameW(module, path, sizeof path / sizeof path[0]);
    return platform::utf16ToUtf8(std::u16string(path, path + n));
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: tallix_placement_probe FULL-PATH-OF-tallix.dll\n");
        return 2;
    }
    HMODULE tallix = LoadLibraryW(argv[1]);
    if (tallix == nullptr) {
        std::fprintf(stderr, "tallix.dll did not load (error %lu)\n", GetLastError());
        return 1;
    }
    using OnLoad = jint(JNICALL*)(JavaVM*, void*);
    using InitLibrary = jboolean(JNICALL*)(JNIEnv*, jobject);
    using GetVersion = jstring(JNICALL*)(JNIEnv*, jobject);
    auto onLoad = reinterpret_cast<OnLoad>(reinterpret_cast<void*>(GetProcAddress(tallix, "JNI_OnLoad")));
    auto initLibrary = reinterpret_cast<InitLibrary>(reinterpret_cast<void*>(
        GetProcAddress(tallix, "Java_com_zephra_tallix_platform_TallixNative__1initLibrary")));
    auto getVersion = reinterpret_cast<GetVersion>(reinterpret_cast<void*>(
        GetProcAddress(tallix, "Java_com_zephra_tallix_platform_TallixNative__1getLibraryVersion")));
    if (onLoad == nullptr || initLibrary == nullptr || getVersion == nullptr) {
        std::fprintf(stderr, "tallix.dll lacks JNI_OnLoad, _initLibrary or _getLibraryVersion\n");
        return 1;
    }
    zephra_test::TestJvm& jvm = zephra_test::testJvm();
    JNIEnv* env = jvm.env();
    onLoad(jvm.vm(), nullptr);
    jobject self = jvm.newObject("com/zephra/tallix/platform/TallixNative");
    const jboolean bound = initLibrary(env, self);
    std::printf("bound %s\n", bound ? "true" : "false");
    if (jstring version = getVersion(env, self)) {
        const char* text = env->GetStringUTFChars(version, nullptr);
        std::printf("version %s\n", text);
        env->ReleaseStringUTFChars(version, text);
    }
    for (const char* name : {"qel.dll", "avrt.dll"}) {
        const std::string text(name);
        if (HMODULE module = GetModuleHandleW(std::wstring(text.begin(), text.end()).c_str())) {
            std::printf("loaded %s %s\n", name, modulePath(module).c_str());
        }
    }
    std::fflush(stdout);
    return 0;
}
