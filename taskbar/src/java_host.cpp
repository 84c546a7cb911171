#include "taskbar/src/java_host.h"

#include <cstdio>
#include <mutex>

#include "taskbar/src/jni_refs.h"

namespace taskbar {
namespace {

// Written by the load hook and _init before the pipe server thread that reads them is
// started. A later _init may replace the target while the server thread runs: the
// mutex keeps the replacement (which deletes the old global reference) apart from the
// server thread taking a local reference of its own to call on.
JavaVM* g_vm = nullptr;
jmethodID g_onJumpListClick = nullptr;
std::mutex g_targetMutex;
jobject g_target = nullptr;

}  // namespace

jint bindToVirtualMachine(JavaVM* vm) {
    g_vm = vm;
    JNIEnv* env = nullptr;
    jint rc = vm->GetEnv(reinterpret_cast<void**>(&env), kJniVersion);
    if (rc == JNI_EDETACHED) {
        JavaVMAttachArgs args{kJniVersion, nullptr, nullptr};
        rc = vm->AttachCurrentThreadAsDaemon(reinterpret_cast<void**>(&env), &args);
    }
    if (rc != JNI_OK || env == nullptr) {
        std::printf("Failed to obtain a JNI environment (%ld)\n", static_cast<long>(rc));
        return kJniVersion;
    }
    // Only the method is kept: a method ID stays valid while its class is loaded, and
    // the host's class stays loaded for the life of the process.
    if (const jclass hostClass = env->FindClass(kHostClassName)) {
        g_onJumpListClick = env->GetMethodID(hostClass, "onJumpListClick", "(Ljava/lang/String;)V");
        env->DeleteLocalRef(hostClass);
    }
    if (env->ExceptionOccurred() != nullptr) {
        env->ExceptionDescribe();
    }
    return kJniVersion;
}

void setCallbackTarget(JNIEnv* env, jobject target) {
    const jobject replacement = target != nullptr ? env->NewGlobalRef(target) : nullptr;
    jobject previous = nullptr;
    {
        std::lock_guard<std::mutex> lock(g_targetMutex);
        previous = g_target;
        g_target = replacement;
    }
    if (previous != nullptr) {
        env->DeleteGlobalRef(previous);
    }
}

JNIEnv* environmentOfThisThread() {
    if (g_vm == nullptr) {
        return nullptr;
    }
    JNIEnv* env = nullptr;
    jint rc = g_vm->GetEnv(reinterpret_cast<void**>(&env), kJniVersion);
    if (rc == JNI_EDETACHED) {
        JavaVMAttachArgs args{kJniVersion, nullptr, nullptr};
        rc = g_vm->AttachCurrentThreadAsDaemon(reinterpret_cast<void**>(&env), &args);
    }
    return rc == JNI_OK ? env : nullptr;
}

void callOnJumpListClick(JNIEnv* env, const char* modifiedUtf8) {
    jobject own = nullptr;
    {
        std::lock_guard<std::mutex> lock(g_targetMutex);
        if (g_target != nullptr) {
            own = env->NewLocalRef(g_target);
        }
    }
    LocalRef<jobject> target(env, own);
    if (!target || g_onJumpListClick == nullptr) {
        std::printf("No Java object to hand the command line to\n");
        return;
    }
    LocalRef<jstring> text(env, env->NewStringUTF(modifiedUtf8));
    if (!text) {
        // NewStringUTF failed (out of memory) and left an exception behind.
        env->ExceptionDescribe();
        return;
    }
    env->CallVoidMethod(target.get(), g_onJumpListClick, text.get());
    if (env->ExceptionCheck()) {
        env->ExceptionDescribe();
    }
}

}  // namespace taskbar
