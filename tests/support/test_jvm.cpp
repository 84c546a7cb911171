#include "tests/support/test_jvm.h"

#include <windows.h>

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "jni_slot_names.h"
#include "platform/utf.h"

namespace zephra_test {

enum Kind { kClass, kInstance, kString, kByteArray, kMethod, kField, kThrowable };

struct TestJvm::Object {
    int kind;
    std::string className;  // a class's own name; an instance's, a member's class
    int serial = 0;
    std::u16string text;              // string; throwable's message
    std::vector<std::uint8_t> bytes;  // byte array
    std::string name;                 // member
    std::string signature;            // member
    Object* value = nullptr;          // static field's value
};

namespace {

thread_local bool t_attached = false;
thread_local TestJvm::Object* t_pending = nullptr;

constexpr std::size_t kEnvSlots = sizeof(JNINativeInterface_) / sizeof(void*);
constexpr std::size_t kVmSlots = sizeof(JNIInvokeInterface_) / sizeof(void*);
static_assert(std::size(kJniEnvSlotNames) == kEnvSlots, "jni.h's slot list and the table differ");
static_assert(std::size(kJniVmSlotNames) == kVmSlots, "jni.h's slot list and the table differ");

[[noreturn]] void unimplemented(const char* table, std::size_t slot, const char* name) {
    std::fprintf(stderr,
                 "\nTestJvm: the library called %s, slot %u of the %s table, which this double "
                 "does not implement\n",
                 name, static_cast<unsigned>(slot), table);
    std::fflush(stderr);
    std::abort();
}

// One function per slot, each knowing its slot: whatever its real arguments, it stops
// the test (it never returns, so the calling convention's clean-up does not matter).
template <std::size_t I>
void JNICALL envSlot() {
    unimplemented("JNIEnv", I, kJniEnvSlotNames[I]);
}
template <std::size_t I>
void JNICALL vmSlot() {
    unimplemented("JavaVM", I, kJniVmSlotNames[I]);
}
template <std::size_t... I>
void fillEnv(void** slots, std::index_sequence<I...>) {
    ((slots[I] = reinterpret_cast<void*>(&envSlot<I>)), ...);
}
template <std::size_t... I>
void fillVm(void** slots, std::index_sequence<I...>) {
    ((slots[I] = reinterpret_cast<void*>(&vmSlot<I>)), ...);
}

TestJvm::Object* as(jobject object) {
    return reinterpret_cast<TestJvm::Object*>(object);
}

TestJvm::Object* expect(jobject object, int kind, const char* function) {
    TestJvm::Object* o = as(object);
    if (o == nullptr || o->kind != kind) {
        std::fprintf(stderr, "\nTestJvm: %s got %s\n", function,
                     o == nullptr ? "null" : "an object of another kind");
        std::fflush(stderr);
        std::abort();
    }
    return o;
}

std::string utf8(const std::u16string& text) {
    return platform::utf16ToUtf8(text);
}

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
            out.push_back(static_cast<char16_t>(((p[0] & 0x0F) << 12) | ((p[1] & 0x3F) << 6) |
                                                (p[2] & 0x3F)));
            p += 3;
        }
    }
    return out;
}

// The JNI functions the libraries call.
struct TestJvmFunctions {
    using Object = TestJvm::Object;

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
    static jint JNICALL detach(JavaVM*) {
        t_attached = false;
        ++testJvm().detaches;
        return JNI_OK;
    }
    static jint JNICALL getJavaVm(JNIEnv*, JavaVM** vm) {
        *vm = testJvm().vm();
        return JNI_OK;
    }

    static jclass JNICALL findClass(JNIEnv*, const char* name) {
        TestJvm& jvm = testJvm();
        std::lock_guard lock(jvm.m_mutex);
        jvm.foundClass = name;
        return reinterpret_cast<jclass>(jvm.classNamed(name));
    }
    static Object* member(JNIEnv*, jclass cls, const char* name, const char* signature, int kind) {
        Object* c = expect(cls, kClass, "GetMethodID/GetStaticFieldID");
        TestJvm& jvm = testJvm();
        std::lock_guard lock(jvm.m_mutex);
        if (kind == kMethod) {
            jvm.methodName = name;
            jvm.methodSignature = signature;
        }
        const std::string key = std::to_string(kind) + " " + c->className + "." + name + signature;
        Object*& m = jvm.m_members[key];
        if (m == nullptr) {
            m = jvm.make(kind, c->className);
            m->name = name;
            m->signature = signature;
            if (kind == kField) {
                m->value = jvm.make(kInstance, c->className);
                m->value->name = name;
            }
        }
        return m;
    }
    static jmethodID JNICALL getMethodId(JNIEnv* env, jclass cls, const char* name,
                                         const char* signature) {
        return reinterpret_cast<jmethodID>(member(env, cls, name, signature, kMethod));
    }
    static jfieldID JNICALL getStaticFieldId(JNIEnv* env, jclass cls, const char* name,
                                             const char* signature) {
        return reinterpret_cast<jfieldID>(member(env, cls, name, signature, kField));
    }
    static jobject JNICALL getStaticObjectField(JNIEnv*, jclass, jfieldID field) {
        return reinterpret_cast<jobject>(reinterpret_cast<Object*>(field)->value);
    }

    static jint JNICALL throwObject(JNIEnv*, jthrowable throwable) {
        t_pending = expect(throwable, kThrowable, "Throw");
        testJvm().pendingException = true;
        ++testJvm().thrownExceptions;
        return 0;
    }
    static jint JNICALL throwNew(JNIEnv*, jclass cls, const char* message) {
        Object* c = expect(cls, kClass, "ThrowNew");
        testJvm().throwPending(c->className, message == nullptr ? "" : message);
        return 0;
    }
    static jthrowable JNICALL exceptionOccurred(JNIEnv*) {
        return reinterpret_cast<jthrowable>(t_pending);
    }
    static jboolean JNICALL exceptionCheck(JNIEnv*) {
        return t_pending != nullptr ? JNI_TRUE : JNI_FALSE;
    }
    static void JNICALL exceptionDescribe(JNIEnv*) {
        // As a JVM does: prints the exception and clears it.
        if (t_pending != nullptr) {
            std::fprintf(stderr, "TestJvm: exception %s: %s\n", t_pending->className.c_str(),
                         utf8(t_pending->text).c_str());
        }
        t_pending = nullptr;
        testJvm().pendingException = false;
        ++testJvm().describedExceptions;
    }
    static void JNICALL exceptionClear(JNIEnv*) {
        t_pending = nullptr;
        testJvm().pendingException = false;
    }

    static jobject JNICALL newGlobalRef(JNIEnv*, jobject object) {
        ++testJvm().globalRefs;
        return object;
    }
    static void JNICALL deleteGlobalRef(JNIEnv*, jobject) { ++testJvm().deletedGlobalRefs; }
    static jobject JNICALL newLocalRef(JNIEnv*, jobject object) { return object; }
    static void JNICALL deleteLocalRef(JNIEnv*, jobject object) {
        if (object != nullptr && as(object)->kind == kString) {
            --testJvm().liveLocalStrings;
        }
    }

    static jstring JNICALL newString(JNIEnv*, const jchar* chars, jsize length) {
        ++testJvm().liveLocalStrings;
        return testJvm().newString(
            std::u16string(reinterpret_cast<const char16_t*>(chars), length));
    }
    static jstring JNICALL newStringUtf(JNIEnv*, const char* text) {
        ++testJvm().liveLocalStrings;
        return testJvm().newString(decodeModifiedUtf8(text));
    }
    static jsize JNICALL getStringLength(JNIEnv*, jstring string) {
        return static_cast<jsize>(expect(string, kString, "GetStringLength")->text.size());
    }
    static const jchar* JNICALL getStringChars(JNIEnv*, jstring string, jboolean* isCopy) {
        if (isCopy != nullptr) {
            *isCopy = JNI_FALSE;
        }
        return reinterpret_cast<const jchar*>(
            expect(string, kString, "GetStringChars")->text.c_str());
    }
    static void JNICALL releaseStringChars(JNIEnv*, jstring, const jchar*) {}
    static const char* JNICALL getStringUtfChars(JNIEnv*, jstring string, jboolean* isCopy) {
        if (isCopy != nullptr) {
            *isCopy = JNI_TRUE;
        }
        const std::string text =
            platform::utf16ToModifiedUtf8(expect(string, kString, "GetStringUTFChars")->text);
        char* copy = new char[text.size() + 1];
        std::memcpy(copy, text.c_str(), text.size() + 1);
        return copy;
    }
    static void JNICALL releaseStringUtfChars(JNIEnv*, jstring, const char* chars) {
        delete[] chars;
    }

    static jsize JNICALL getArrayLength(JNIEnv*, jarray array) {
        return static_cast<jsize>(expect(array, kByteArray, "GetArrayLength")->bytes.size());
    }
    static jbyteArray JNICALL newByteArray(JNIEnv*, jsize length) {
        return testJvm().newByteArray(nullptr, static_cast<std::size_t>(length));
    }
    static jbyte* JNICALL getByteArrayElements(JNIEnv*, jbyteArray array, jboolean* isCopy) {
        Object* a = expect(array, kByteArray, "GetByteArrayElements");
        if (isCopy != nullptr) {
            *isCopy = JNI_TRUE;
        }
        ++testJvm().heldByteArrays;
        auto* copy = new jbyte[a->bytes.size() + 1];
        std::memcpy(copy, a->bytes.data(), a->bytes.size());
        return copy;
    }
    static void JNICALL releaseByteArrayElements(JNIEnv*, jbyteArray array, jbyte* elements,
                                                 jint mode) {
        Object* a = expect(array, kByteArray, "ReleaseByteArrayElements");
        if (mode == 0 || mode == JNI_COMMIT) {
            std::memcpy(a->bytes.data(), elements, a->bytes.size());
        }
        if (mode != JNI_COMMIT) {
            --testJvm().heldByteArrays;
            delete[] elements;
        }
    }
    static bool inRange(Object* a, jsize start, jsize length) {
        return start >= 0 && length >= 0 &&
               static_cast<std::size_t>(start) + length <= a->bytes.size();
    }
    static void JNICALL getByteArrayRegion(JNIEnv*, jbyteArray array, jsize start, jsize length,
                                           jbyte* out) {
        Object* a = expect(array, kByteArray, "GetByteArrayRegion");
        if (!inRange(a, start, length)) {
            testJvm().throwPending("java/lang/ArrayIndexOutOfBoundsException",
                                   "GetByteArrayRegion");
            return;
        }
        std::memcpy(out, a->bytes.data() + start, static_cast<std::size_t>(length));
    }
    static void JNICALL setByteArrayRegion(JNIEnv*, jbyteArray array, jsize start, jsize length,
                                           const jbyte* in) {
        Object* a = expect(array, kByteArray, "SetByteArrayRegion");
        if (!inRange(a, start, length)) {
            testJvm().throwPending("java/lang/ArrayIndexOutOfBoundsException",
                                   "SetByteArrayRegion");
            return;
        }
        std::memcpy(a->bytes.data() + start, in, static_cast<std::size_t>(length));
    }

    static jobject JNICALL newObjectV(JNIEnv* env, jclass cls, jmethodID constructor,
                                      va_list args) {
        Object* c = expect(cls, kClass, "NewObject");
        Object* object = nullptr;
        {
            std::lock_guard lock(testJvm().m_mutex);
            object = testJvm().make(kInstance, c->className);
        }
        testJvm().invoke(env, reinterpret_cast<jobject>(object), constructor, args);
        return reinterpret_cast<jobject>(object);
    }
    static jobject JNICALL newObject(JNIEnv* env, jclass cls, jmethodID constructor, ...) {
        va_list args;
        va_start(args, constructor);
        jobject object = newObjectV(env, cls, constructor, args);
        va_end(args);
        return object;
    }
    static void JNICALL callVoidMethodV(JNIEnv* env, jobject target, jmethodID method,
                                        va_list args) {
        testJvm().invoke(env, target, method, args);
    }
    static void JNICALL callVoidMethod(JNIEnv* env, jobject target, jmethodID method, ...) {
        va_list args;
        va_start(args, method);
        testJvm().invoke(env, target, method, args);
        va_end(args);
    }
    static jboolean JNICALL callBooleanMethodV(JNIEnv* env, jobject target, jmethodID method,
                                               va_list args) {
        return testJvm().invoke(env, target, method, args).z;
    }
    static jboolean JNICALL callBooleanMethod(JNIEnv* env, jobject target, jmethodID method, ...) {
        va_list args;
        va_start(args, method);
        const jboolean result = testJvm().invoke(env, target, method, args).z;
        va_end(args);
        return result;
    }
};

TestJvm::TestJvm() {
    fillEnv(reinterpret_cast<void**>(&m_functions), std::make_index_sequence<kEnvSlots>());
    fillVm(reinterpret_cast<void**>(&m_invoke), std::make_index_sequence<kVmSlots>());
    using F = TestJvmFunctions;
    m_invoke.GetEnv = F::getEnv;
    m_invoke.AttachCurrentThreadAsDaemon = F::attachAsDaemon;
    m_invoke.DetachCurrentThread = F::detach;
    m_functions.GetJavaVM = F::getJavaVm;
    m_functions.FindClass = F::findClass;
    m_functions.GetMethodID = F::getMethodId;
    m_functions.GetStaticFieldID = F::getStaticFieldId;
    m_functions.GetStaticObjectField = F::getStaticObjectField;
    m_functions.Throw = F::throwObject;
    m_functions.ThrowNew = F::throwNew;
    m_functions.ExceptionOccurred = F::exceptionOccurred;
    m_functions.ExceptionCheck = F::exceptionCheck;
    m_functions.ExceptionDescribe = F::exceptionDescribe;
    m_functions.ExceptionClear = F::exceptionClear;
    m_functions.NewGlobalRef = F::newGlobalRef;
    m_functions.DeleteGlobalRef = F::deleteGlobalRef;
    m_functions.NewLocalRef = F::newLocalRef;
    m_functions.DeleteLocalRef = F::deleteLocalRef;
    m_functions.NewString = F::newString;
    m_functions.NewStringUTF = F::newStringUtf;
    m_functions.GetStringLength = F::getStringLength;
    m_functions.GetStringChars = F::getStringChars;
    m_functions.ReleaseStringChars = F::releaseStringChars;
    m_functions.GetStringUTFChars = F::getStringUtfChars;
    m_functions.ReleaseStringUTFChars = F::releaseStringUtfChars;
    m_functions.GetArrayLength = F::getArrayLength;
    m_functions.NewByteArray = F::newByteArray;
    m_functions.GetByteArrayElements = F::getByteArrayElements;
    m_functions.ReleaseByteArrayElements = F::releaseByteArrayElements;
    m_functions.GetByteArrayRegion = F::getByteArrayRegion;
    m_functions.SetByteArrayRegion = F::setByteArrayRegion;
    m_functions.NewObject = F::newObject;
    m_functions.NewObjectV = F::newObjectV;
    m_functions.CallVoidMethod = F::callVoidMethod;
    m_functions.CallVoidMethodV = F::callVoidMethodV;
    m_functions.CallBooleanMethod = F::callBooleanMethod;
    m_functions.CallBooleanMethodV = F::callBooleanMethodV;
    m_env.functions = &m_functions;
    m_vm.functions = &m_invoke;
    m_hostObject = reinterpret_cast<jobject>(make(kInstance, "host"));
    m_component = reinterpret_cast<jobject>(make(kInstance, "component"));
}

TestJvm::Object* TestJvm::make(int kind, const std::string& className) {
    auto* object = new Object();  // kept for the life of the process
    object->kind = kind;
    object->className = className;
    object->serial = ++m_serial;
    m_objects.push_back(object);
    return object;
}

TestJvm::Object* TestJvm::classNamed(const std::string& name) {
    Object*& c = m_classes[name];
    if (c == nullptr) {
        c = make(kClass, name);
    }
    return c;
}

JNIEnv* TestJvm::env() noexcept {
    t_attached = true;
    return &m_env;
}

jstring TestJvm::newString(const std::u16string& text) {
    std::lock_guard lock(m_mutex);
    Object* s = make(kString, "java/lang/String");
    s->text = text;
    return reinterpret_cast<jstring>(s);
}

jstring TestJvm::newStringUtf8(const std::string& text) {
    return newString(platform::utf8ToUtf16(text));
}

jbyteArray TestJvm::newByteArray(const void* data, std::size_t length) {
    std::lock_guard lock(m_mutex);
    Object* a = make(kByteArray, "[B");
    a->bytes.assign(length, 0);
    if (data != nullptr && length > 0) {
        std::memcpy(a->bytes.data(), data, length);
    }
    return reinterpret_cast<jbyteArray>(a);
}

jobject TestJvm::newObject(const std::string& className) {
    std::lock_guard lock(m_mutex);
    return reinterpret_cast<jobject>(make(kInstance, className));
}

std::string TestJvm::describe(jobject object) {
    const Object* o = as(object);
    if (o == nullptr) {
        return "null";
    }
    switch (o->kind) {
        case kString:
            return utf8(o->text);
        case kByteArray:
            return "byte[" + std::to_string(o->bytes.size()) + "]";
        case kInstance:
            return o->name.empty() ? o->className + "#" + std::to_string(o->serial)
                                   : o->className + "." + o->name;
        default:
            return o->className + "#" + std::to_string(o->serial);
    }
}

void TestJvm::onCall(const std::string& method, Handler handler) {
    std::lock_guard lock(m_mutex);
    m_handlers[method] = std::move(handler);
}

void TestJvm::throwPending(const std::string& className, const std::string& message) {
    Object* throwable = nullptr;
    {
        std::lock_guard lock(m_mutex);
        throwable = make(kThrowable, className);
    }
    throwable->text = platform::utf8ToUtf16(message);
    t_pending = throwable;
    pendingException = true;
    ++thrownExceptions;
}

std::string TestJvm::pendingOnThisThread() {
    return t_pending == nullptr ? std::string()
                                : t_pending->className + ": " + utf8(t_pending->text);
}

void TestJvm::clearPendingOnThisThread() {
    t_pending = nullptr;
    pendingException = false;
}

// Takes the arguments that the method's signature names from `args`, records the call,
// and answers it with its handler.
jvalue TestJvm::invoke(JNIEnv*, jobject target, jmethodID methodId, va_list args) {
    Object* method = expect(reinterpret_cast<jobject>(methodId), kMethod, "Call...Method");
    if (target == nullptr) {
        std::fprintf(stderr, "\nTestJvm: %s.%s called on null\n", method->className.c_str(),
                     method->name.c_str());
        std::abort();
    }
    JavaCall call{
        method->className,   method->name, method->signature, describe(target), {}, {}, {},
        GetCurrentThreadId()};
    const std::string& s = method->signature;
    std::u16string firstString;
    bool haveString = false;
    for (std::size_t i = 1; i < s.size() && s[i] != ')'; ++i) {
        switch (s[i]) {
            case 'Z':
                call.args.push_back(va_arg(args, int) != 0 ? "true" : "false");
                break;
            case 'B':
            case 'C':
            case 'S':
            case 'I':
                call.args.push_back(std::to_string(va_arg(args, int)));
                break;
            case 'J':
                call.args.push_back(std::to_string(va_arg(args, long long)));
                break;
            case 'F':
            case 'D':
                call.args.push_back(std::to_string(va_arg(args, double)));
                break;
            case 'L':
            case '[': {
                const bool array = s[i] == '[';
                while (s[i] == '[') {
                    ++i;
                }
                if (s[i] == 'L') {
                    i = s.find(';', i);
                }
                jobject object = va_arg(args, jobject);
                const Object* o = as(object);
                if (array && o != nullptr && o->kind == kByteArray) {
                    call.bytes = o->bytes;
                }
                if (o != nullptr && o->kind == kString && !haveString) {
                    firstString = o->text;
                    call.text = o->text;
                    haveString = true;
                }
                call.args.push_back(describe(object));
                break;
            }
            default:
                std::fprintf(stderr, "\nTestJvm: signature %s not understood\n", s.c_str());
                std::abort();
        }
    }

    const int inProgress = ++m_callsInProgress;
    int seen = maxConcurrentCalls.load();
    while (inProgress > seen && !maxConcurrentCalls.compare_exchange_weak(seen, inProgress)) {
    }
    if (m_callDurationMs > 0) {
        Sleep(m_callDurationMs);
    }
    Handler handler;
    bool throwHere = false;
    {
        std::lock_guard lock(m_mutex);
        if (auto found = m_handlers.find(method->name); found != m_handlers.end()) {
            handler = found->second;
        }
        throwHere = method->name == "onJumpListClick" && haveString && !m_throwOn.empty() &&
                    firstString == m_throwOn;
    }
    jvalue result{};
    if (handler) {
        result = handler(call);
    }
    if (throwHere) {
        throwPending("java/lang/RuntimeException", "onJumpListClick");
    }
    record(std::move(call));
    --m_callsInProgress;
    return result;
}

void TestJvm::record(JavaCall call) {
    std::lock_guard lock(m_mutex);
    m_calls.push_back(std::move(call));
    m_changed.notify_all();
}

std::vector<JavaCall> TestJvm::calls() {
    std::lock_guard lock(m_mutex);
    return m_calls;
}

std::vector<JavaCall> TestJvm::callsOf(const std::string& method) {
    std::lock_guard lock(m_mutex);
    std::vector<JavaCall> out;
    for (const JavaCall& call : m_calls) {
        if (call.method == method) {
            out.push_back(call);
        }
    }
    return out;
}

bool TestJvm::waitForCalls(const std::string& method, std::size_t count, unsigned timeoutMs) {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        std::size_t n = 0;
        for (const JavaCall& call : m_calls) {
            n += call.method == method ? 1 : 0;
        }
        return n >= count;
    });
}

void TestJvm::clearCalls() {
    std::lock_guard lock(m_mutex);
    m_calls.clear();
}

std::vector<ClickCall> TestJvm::clicks() {
    std::lock_guard lock(m_mutex);
    std::vector<ClickCall> out;
    for (const JavaCall& call : m_calls) {
        if (call.method == "onJumpListClick" && !call.args.empty()) {
            out.push_back({call.text, call.threadId});
        }
    }
    return out;
}

bool TestJvm::waitForClicks(std::size_t count, unsigned timeoutMs) {
    return waitForCalls("onJumpListClick", count, timeoutMs);
}

void TestJvm::clearClicks() {
    std::lock_guard lock(m_mutex);
    std::erase_if(m_calls, [](const JavaCall& call) { return call.method == "onJumpListClick"; });
}

void TestJvm::throwOn(const std::u16string& text) {
    std::lock_guard lock(m_mutex);
    m_throwOn = text;
}

TestJvm& testJvm() {
    static TestJvm jvm;
    return jvm;
}

}  // namespace zephra_test
