// A JNI local reference owned for a scope. Header-only: only the JNI libraries include
// it, and they bring <jni.h>.
#pragma once

#include <jni.h>

#include <utility>

namespace platform {

// Deleted (DeleteLocalRef) at the end of its scope. Needed on threads that never return
// to Java (a call thread, a pipe server thread) and in long loops, where local
// references would otherwise pile up.
template <typename T>
class JniLocalRef {
  public:
    JniLocalRef(JNIEnv* env, T ref) noexcept : m_env(env), m_ref(ref) {}
    ~JniLocalRef() {
        if (m_ref != nullptr) {
            m_env->DeleteLocalRef(m_ref);
        }
    }
    JniLocalRef(JniLocalRef&& other) noexcept
        : m_env(other.m_env), m_ref(std::exchange(other.m_ref, nullptr)) {}
    JniLocalRef& operator=(JniLocalRef&&) = delete;
    JniLocalRef(const JniLocalRef&) = delete;
    JniLocalRef& operator=(const JniLocalRef&) = delete;

    T get() const noexcept { return m_ref; }
    explicit operator bool() const noexcept { return m_ref != nullptr; }
    // Hands the reference to the caller (a native method's result).
    T release() noexcept { return std::exchange(m_ref, nullptr); }

  private:
    JNIEnv* m_env;
    T m_ref;
};

}  // namespace platform
