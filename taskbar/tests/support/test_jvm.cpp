#include "test_jvm.h"

#include <windows.h>

#include <cstdarg>

namespace taskbar_test {
namespace {

thread_local bool t_attached = false;

struct TestString {
    std::u16string text;
};

const std::u16string& textOf(jstring string) { return reinterpret_cast<TestString*>(string)->text; }

}  // namespace

std::u16string decodeModifiedUtf8(const char* text) {
    std::u16string out;
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    while (*p != 0) {
        if (*p < 0x80) {
            out.push_back(*p++);
        } else if ((*p & 0xE0) == 0xC0) {
            out.push_back(static_cast<char16_t>(((p[0] & 0x1F) << 6) | (p[1] & 0x3F)));
            p += 2;
        } else {
            out.push_back(static_cast<char16_t>(((p[0] & 0x0F) << 12) | ((p[1] & 0x3F) << 6) | (p[2] & 0x3F)));
            p += 3;
        }
    }
    return out;
}

// The JNI functions the library may call; every other slot of the table stays null,
// so a call the library is not expected to make crashes the test.
struct TestJvmFunctions {
    static jint JNICALL getEnv(JavaVM*, void** env, jint version) {
        if (version != JNI_VERSION_1_4) {
            return JNI_EVERSION;
        }
        if (!t_attached) {
            *env = nullptr;
            return JNI_EDETACHED;
        }
        *env = &testJvm().m_env;
        return JNI_OK;
    }
    static jint JNICALL attachAsDaemon(JavaVM*, void** env, void* args) {
        auto* attach = static_cast<JavaVMAttachArgs*>(args);
        if (attach == nullptr || attach->version != JNI_VERSION_1_4) {
            return JNI_EVERSION;
        }
        t_attached = true;
        ++testJvm().attaches;
        *env = &testJvm().m_env;
        return JNI_OK;
    }
    static jclass JNICALL findClass(JNIEnv*, const char* name) {
        testJvm().foundClass = name;
        return reinterpret_cast<jclass>(&testJvm().m_class);
    }
    static jmethodID JNICALL getMethodId(JNIEnv*, jclass cls, const char* name, const char* signature) {
        if (cls != reinterpret_cast<jclass>(&testJvm().m_class)) {
            return nullptr;
        }
        testJvm().methodName = name;
        testJvm().methodSignature = signature;
        return reinterpret_cast<jmethodID>(&testJvm().m_class);
    }
    static jthrowable JNICALL exceptionOccurred(JNIEnv*) {
        return testJvm().pendingException ? reinterpret_cast<jthrowable>(&testJvm().m_class) : nullptr;
    }
    static jboolean JNICALL exceptionCheck(JNIEnv*) { return testJvm().pendingException ? JNI_TRUE : JNI_FALSE; }
    static void JNICALL exceptionDescribe(JNIEnv*) {
        testJvm().pendingException = false;
        ++testJvm().describedExceptions;
    }
    static jobject JNICALL newGlobalRef(JNIEnv*, jobject object) {
        ++testJvm().globalRefs;
        return object;
    }
    static void JNICALL deleteGlobalRef(JNIEnv*, jobject) { ++testJvm().deletedGlobalRefs; }
    static jobject JNICALL newLocalRef(JNIEnv*, jobject object) { return object; }
    static void JNICALL deleteLocalRef(JNIEnv*, jobject object) {
        TestJvm& jvm = testJvm();
        std::lock_guard<std::mutex> lock(jvm.m_mutex);
        for (auto& s : jvm.m_strings) {
            if (static_cast<void*>(object) == s) {
                --jvm.liveLocalStrings;
            }
        }
    }
    static jsize JNICALL getStringLength(JNIEnv*, jstring string) { return static_cast<jsize>(textOf(string).size()); }
    static const jchar* JNICALL getStringChars(JNIEnv*, jstring string, jboolean* isCopy) {
        if (isCopy != nullptr) {
            *isCopy = JNI_FALSE;
        }
        return reinterpret_cast<const jchar*>(textOf(string).data());
    }
    static void JNICALL releaseStringChars(JNIEnv*, jstring, const jchar*) {}
    static jstring JNICALL newStringUtf(JNIEnv*, const char* text) {
        TestJvm& jvm = testJvm();
        ++jvm.liveLocalStrings;
        return jvm.newString(decodeModifiedUtf8(text));
    }
    // JNIEnv's C++ CallVoidMethod forwards its arguments to CallVoidMethodV.
    static void JNICALL callVoidMethodV(JNIEnv*, jobject target, jmethodID method, va_list args) {
        TestJvm& jvm = testJvm();
        if (target != jvm.hostObject() || method != reinterpret_cast<jmethodID>(&jvm.m_class)) {
            return;
        }
        const jstring text = va_arg(args, jstring);

        const int inProgress = ++jvm.m_callsInProgress;
        int seen = jvm.maxConcurrentCalls.load();
        while (inProgress > seen && !jvm.maxConcurrentCalls.compare_exchange_weak(seen, inProgress)) {
        }
        if (jvm.m_callDurationMs > 0) {
            Sleep(jvm.m_callDurationMs);
        }
        std::lock_guard<std::mutex> lock(jvm.m_mutex);
        jvm.m_clicks.push_back({textOf(text), GetCurrentThreadId()});
        if (!jvm.m_throwOn.empty() && textOf(text) == jvm.m_throwOn) {
            jvm.pendingException = true;
        }
        --jvm.m_callsInProgress;
    }
};

TestJvm::TestJvm() {
    m_invoke.GetEnv = TestJvmFunctions::getEnv;
    m_invoke.AttachCurrentThreadAsDaemon = TestJvmFunctions::attachAsDaemon;
    m_functions.FindClass = TestJvmFunctions::findClass;
    m_functions.GetMethodID = TestJvmFunctions::getMethodId;
    m_functions.ExceptionOccurred = TestJvmFunctions::exceptionOccurred;
    m_functions.ExceptionCheck = TestJvmFunctions::exceptionCheck;
    m_functions.ExceptionDescribe = TestJvmFunctions::exceptionDescribe;
    m_functions.NewGlobalRef = TestJvmFunctions::newGlobalRef;
    m_functions.DeleteLocalRef = TestJvmFunctions::deleteLocalRef;
    m_functions.DeleteGlobalRef = TestJvmFunctions::deleteGlobalRef;
    m_functions.NewLocalRef = TestJvmFunctions::newLocalRef;
    m_functions.GetStringLength = TestJvmFunctions::getStringLength;
    m_functions.GetStringChars = TestJvmFunctions::getStringChars;
    m_functions.ReleaseStringChars = TestJvmFunctions::releaseStringChars;
    m_functions.NewStringUTF = TestJvmFunctions::newStringUtf;
    m_functions.CallVoidMethodV = TestJvmFunctions::callVoidMethodV;
    m_env.functions = &m_functions;
    m_vm.functions = &m_invoke;
}

JNIEnv* TestJvm::env() noexcept {
    t_attached = true;
    return &m_env;
}

jstring TestJvm::newString(const std::u16string& text) {
    // Kept for the life of the process: the library may hold on to what it was given.
    auto* s = new TestString{text};
    std::lock_guard<std::mutex> lock(m_mutex);
    m_strings.push_back(s);
    return reinterpret_cast<jstring>(s);
}

std::vector<ClickCall> TestJvm::clicks() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_clicks;
}

bool TestJvm::waitForClicks(std::size_t count, unsigned timeoutMs) {
    for (unsigned waited = 0;; waited += 10) {
        if (clicks().size() >= count) {
            return true;
        }
        if (waited >= timeoutMs) {
            return false;
        }
        Sleep(10);
    }
}

void TestJvm::clearClicks() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_clicks.clear();
}

void TestJvm::throwOn(const std::u16string& text) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_throwOn = text;
}

TestJvm& testJvm() {
    static TestJvm jvm;
    return jvm;
}

}  // namespace taskbar_test
