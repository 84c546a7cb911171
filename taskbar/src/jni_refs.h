// Owners for JNI references and borrowed string characters.
#pragma once

#include <jni.h>

#include <utility>

#include "platform/jni_local_ref.h"

namespace taskbar {

template <typename T>
using LocalRef = platform::JniLocalRef<T>;

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
