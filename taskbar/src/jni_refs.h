// Owners for JNI references and borrowed string characters.
#pragma once

#include <jni.h>

#include <utility>

namespace taskbar {

// A local reference, deleted (DeleteLocalRef) when it goes. Needed on threads that
// never return to Java, such as the pipe server thread, where local references would
// otherwise pile up for the life of the process.
template <typename T>
class LocalRef {
public:
    LocalRef(JNIEnv* env, T ref) noexcept : m_env(env), m_ref(ref) {}
    ~LocalRef() {
        if (m_ref != nullptr) {
            m_env->DeleteLocalRef(m_ref);
        }
    }
    LocalRef(LocalRef&& other) noexcept : m_env(other.m_env), m_ref(std::exchange(other.m_ref, nullptr)) {}
    LocalRef& operator=(LocalRef&&) = delete;
    LocalRef(const LocalRef&) = delete;
    LocalRef& operator=(const LocalRef&) = delete;

    T get() const noexcept { return m_ref; }
    explicit operator bool() const noexcept { return m_ref != nullptr; }

private:
    JNIEnv* m_env;
    T m_ref;
};

// The UTF-16 characters of a Java string, borrowed with GetStringChars and given back
// with ReleaseStringChars.
class StringChars {
public:
    StringChars(JNIEnv* env, jstring string) noexcept
        : m_env(env), m_string(string), m_chars(env->GetStringChars(string, nullptr)) {}
    ~StringChars() {
        if (m_chars != nullptr) {
            m_env->ReleaseStringChars(m_string, m_chars);
        }
    }
    StringChars(const StringChars&) = delete;
    StringChars& operator=(const StringChars&) = delete;

    const jchar* get() const noexcept { return m_chars; }

private:
    JNIEnv* m_env;
    jstring m_string;
    const jchar* m_chars;
};

}  // namespace taskbar
