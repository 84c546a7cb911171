#include "engine/jni/jni_refs.h"

#include "platform/utf.h"

namespace tallix::jni {

GlobalRef::GlobalRef(JNIEnv* env, jobject local) noexcept {
    if (local != nullptr && env->GetJavaVM(&m_vm) == JNI_OK) {
        m_ref = env->NewGlobalRef(local);
    }
}

GlobalRef& GlobalRef::operator=(GlobalRef&& other) noexcept {
    if (this != &other) {
        reset();
        m_vm = other.m_vm;
        m_ref = std::exchange(other.m_ref, nullptr);
    }
    return *this;
}

void GlobalRef::reset() noexcept {
    if (m_ref == nullptr) {
        return;
    }
    // Global references may be deleted from any thread: one without an environment is
    // attached for the deletion and detached again, so the reference never leaks.
    JNIEnv* env = nullptr;
    const jint rc = m_vm->GetEnv(reinterpret_cast<void**>(&env), JNI_VERSION_1_4);
    if (rc == JNI_OK) {
        env->DeleteGlobalRef(m_ref);
    } else if (rc == JNI_EDETACHED) {
        JavaVMAttachArgs args{JNI_VERSION_1_4, nullptr, nullptr};
        if (m_vm->AttachCurrentThreadAsDaemon(reinterpret_cast<void**>(&env), &args) == JNI_OK) {
            env->DeleteGlobalRef(m_ref);
            m_vm->DetachCurrentThread();
        }
    }
    m_ref = nullptr;
}

AttachedThread::AttachedThread(JavaVM* vm) noexcept : m_vm(vm) {
    if (vm->GetEnv(reinterpret_cast<void**>(&m_env), JNI_VERSION_1_4) == JNI_OK) {
        return;
    }
    m_env = nullptr;
    JavaVMAttachArgs args{JNI_VERSION_1_4, nullptr, nullptr};
    if (vm->AttachCurrentThreadAsDaemon(reinterpret_cast<void**>(&m_env), &args) == JNI_OK) {
        m_attachedHere = true;
    } else {
        m_env = nullptr;
    }
}

AttachedThread::~AttachedThread() {
    if (m_attachedHere) {
        m_vm->DetachCurrentThread();
    }
}

jstring newStringFromUtf8(JNIEnv* env, const char* utf8) {
    const std::u16string text = platform::utf8ToUtf16(utf8 ? utf8 : "");
    return env->NewString(reinterpret_cast<const jchar*>(text.data()),
                          static_cast<jsize>(text.size()));
}

}  // namespace tallix::jni
