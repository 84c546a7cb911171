// A test double of the Java virtual machine, for running the JNI libraries (tallix,
// Taskelle) under Wine, where no Windows JVM exists. It implements the JNI functions
// those libraries call: classes, method and field identifiers, strings, byte arrays,
// object creation, instance calls, exceptions, global and local references, attaching
// threads. Every Java method a library calls is recorded; a test may answer a method
// with a handler. Every other slot of the JNI function tables aborts the test with
// the function's name and slot number.
#pragma once

#include <jni.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace zephra_test {

// One Java method called by the library under test, with its arguments as text:
// numbers in decimal, booleans as true/false, strings as their UTF-8 text, null as
// "null", byte arrays as "byte[N]" (their content in `bytes`), other objects as
// "ClassName#N".
struct JavaCall {
    std::string className;  // of the method's class
    std::string method;
    std::string signature;
    std::string target;  // the object called, as an argument is written
    std::vector<std::string> args;
    std::vector<std::uint8_t> bytes;  // of the last byte[] argument
    std::u16string text;              // of the first String argument
    unsigned long threadId = 0;
};

// What Taskelle's tests look at: one onJumpListClick.
struct ClickCall {
    std::u16string text;
    unsigned long threadId;
};

class TestJvm {
  public:
    // A handler answers a call of a method; its result is the method's result (ignored
    // for void methods). It may raise a Java exception with throwPending().
    using Handler = std::function<jvalue(const JavaCall&)>;

    TestJvm();
    TestJvm(const TestJvm&) = delete;
    TestJvm& operator=(const TestJvm&) = delete;

    JavaVM* vm() noexcept { return &m_vm; }
    // The calling thread's environment; the thread counts as attached from then on.
    JNIEnv* env() noexcept;

    // Java objects owned by this double, valid for the life of the process.
    jstring newString(const std::u16string& text);
    jstring newStringUtf8(const std::string& text);
    jbyteArray newByteArray(const void* data, std::size_t length);
    // An instance of the class of that name (a host object the library is handed).
    jobject newObject(const std::string& className);
    // The object whose onJumpListClick Taskelle is to call, and a component.
    jobject hostObject() noexcept { return m_hostObject; }
    jobject component() noexcept { return m_component; }
    // "ClassName#N" of an object the double made; "null" for null.
    std::string describe(jobject object);

    // Answers calls of `method` (any class) with `handler`.
    void onCall(const std::string& method, Handler handler);
    // Raises an exception of `className` on the calling thread, as a Java method would.
    void throwPending(const std::string& className, const std::string& message);
    // The calling thread's pending exception, "ClassName: message", or "".
    std::string pendingOnThisThread();
    // Clears the calling thread's pending exception (as the Java caller of a native
    // method sees it thrown).
    void clearPendingOnThisThread();

    std::vector<JavaCall> calls();
    std::vector<JavaCall> callsOf(const std::string& method);
    // Waits up to `timeoutMs` for at least `count` calls of `method`.
    bool waitForCalls(const std::string& method, std::size_t count, unsigned timeoutMs);
    void clearCalls();

    // Taskelle's view of the record.
    std::vector<ClickCall> clicks();
    bool waitForClicks(std::size_t count, unsigned timeoutMs);
    void clearClicks();
    // onJumpListClick throws for this text.
    void throwOn(const std::u16string& text);
    // Each call lasts this long, so that overlapping calls would be seen.
    void setCallDurationMs(unsigned ms) { m_callDurationMs = ms; }

    // What the library asked of the virtual machine.
    std::string foundClass;  // the last FindClass
    std::string methodName;  // the last GetMethodID
    std::string methodSignature;
    std::atomic<int> globalRefs{0};  // made; deletedGlobalRefs of them deleted
    std::atomic<int> deletedGlobalRefs{0};
    std::atomic<int> liveLocalStrings{0};
    std::atomic<int> attaches{0};
    std::atomic<int> detaches{0};
    std::atomic<int> describedExceptions{0};
    std::atomic<int> thrownExceptions{0};
    std::atomic<int> maxConcurrentCalls{0};
    std::atomic<int> heldByteArrays{0};         // elements taken and not yet released
    std::atomic<bool> pendingException{false};  // some thread has one

    // A Java object, class, string, array or member identifier of the double.
    struct Object;

  private:
    friend struct TestJvmFunctions;

    Object* make(int kind, const std::string& className);
    Object* classNamed(const std::string& name);
    jvalue invoke(JNIEnv* env, jobject target, jmethodID method, va_list args);
    void record(JavaCall call);

    JNINativeInterface_ m_functions{};
    JNIInvokeInterface_ m_invoke{};
    JNIEnv m_env{};
    JavaVM m_vm{};
    jobject m_hostObject = nullptr;
    jobject m_component = nullptr;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<Object*> m_objects;
    std::map<std::string, Object*> m_classes;
    std::map<std::string, Object*> m_members;  // method and field identifiers
    std::map<std::string, Handler> m_handlers;
    std::vector<JavaCall> m_calls;
    std::u16string m_throwOn;
    std::atomic<int> m_callsInProgress{0};
    std::atomic<unsigned> m_callDurationMs{0};
    int m_serial = 0;
};

// The one double of the process (JNI hands the library no context pointer of ours).
TestJvm& testJvm();

// Decodes the modified UTF-8 that NewStringUTF receives.
std::u16string decodeModifiedUtf8(const char* text);

}  // namespace zephra_test
