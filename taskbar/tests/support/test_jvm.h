// A test double of the Java virtual machine, for running Taskelle under Wine where no
// Windows JVM exists: a JNI function table with exactly the functions the library
// calls, Java strings as test-owned objects, and a record of every onJumpListClick.
#pragma once

#include <jni.h>

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

namespace taskbar_test {

struct ClickCall {
    std::u16string text;
    unsigned long threadId;
};

class TestJvm {
public:
    TestJvm();
    TestJvm(const TestJvm&) = delete;
    TestJvm& operator=(const TestJvm&) = delete;

    JavaVM* vm() noexcept { return &m_vm; }
    // The calling thread's environment; the thread counts as attached from then on.
    JNIEnv* env() noexcept;

    // A Java string owned by this double, valid until it goes.
    jstring newString(const std::u16string& text);
    // The object whose onJumpListClick the library is to call.
    jobject hostObject() noexcept { return reinterpret_cast<jobject>(&m_hostObject); }
    jobject component() noexcept { return reinterpret_cast<jobject>(&m_component); }

    std::vector<ClickCall> clicks();
    // Waits up to `timeoutMs` for at least `count` calls.
    bool waitForClicks(std::size_t count, unsigned timeoutMs);
    void clearClicks();
    // The host's method throws for this text.
    void throwOn(const std::u16string& text);
    // Each call lasts this long, so that overlapping calls would be seen.
    void setCallDurationMs(unsigned ms) { m_callDurationMs = ms; }

    // What the library asked of the virtual machine.
    std::string foundClass;
    std::string methodName;
    std::string methodSignature;
    std::atomic<int> globalRefs{0};  // made; deletedGlobalRefs of them deleted
    std::atomic<int> deletedGlobalRefs{0};
    std::atomic<int> liveLocalStrings{0};
    std::atomic<int> attaches{0};
    std::atomic<int> describedExceptions{0};
    std::atomic<int> maxConcurrentCalls{0};
    std::atomic<bool> pendingException{false};

private:
    friend struct TestJvmFunctions;
    struct Marker {
        int tag;
    };

    JNINativeInterface_ m_functions{};
    JNIInvokeInterface_ m_invoke{};
    JNIEnv m_env{};
    JavaVM m_vm{};
    Marker m_hostObject{1};
    Marker m_component{2};
    Marker m_class{3};
    std::mutex m_mutex;
    std::vector<void*> m_strings;
    std::vector<ClickCall> m_clicks;
    std::u16string m_throwOn;
    std::atomic<int> m_callsInProgress{0};
    std::atomic<unsigned> m_callDurationMs{0};
};

// The one double of the process (JNI hands the library no context pointer of ours).
TestJvm& testJvm();

// Decodes the modified UTF-8 that NewStringUTF receives.
std::u16string decodeModifiedUtf8(const char* text);

}  // namespace taskbar_test
