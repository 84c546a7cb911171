// Owners for JNI references and borrowed JNI data: each releases what it holds when it
// goes out of scope.
#pragma once

#include <jni.h>

#include <cstdint>
#include <utility>

#include "platform/jni_local_ref.h"

namespace tallix::jni {

template <typename T>
using LocalRef = platform::JniLocalRef<T>;

// A global reference. The process-wide caches keep theirs for the life of the process;
// the owner deletes it when replaced or destroyed, on whatever thread that happens (a
// thread not attached to the VM is attached briefly for it).
class GlobalRef {
  public:
    GlobalRef() = default;
    GlobalRef(JNIEnv* env, jobject local) noexcept;
    ~GlobalRef() { reset(); }
    GlobalRef(GlobalRef&& other) noexcept
        : m_vm(other.m_vm), m_ref(std::exchange(other.m_ref, nullptr)) {}
    GlobalRef& operator=(GlobalRef&& other) noexcept;
    GlobalRef(const GlobalRef&) = delete;
    GlobalRef& operator=(const GlobalRef&) = delete;

    jobject get() const noexcept { return m_ref; }
    explicit operator bool() const noexcept { return m_ref != nullptr; }
    void reset() noexcept;

  private:
    JavaVM* m_vm = nullptr;
    jobject m_ref = nullptr;
};

// Modified UTF-8 text of a Java string, released at the end of its scope. A null
// string gives a null c_str().
class Utf8Chars {
  public:
    Utf8Chars(JNIEnv* env, jstring text) noexcept
        : m_env(env),
          m_text(text),
          m_chars(text ? env->GetStringUTFChars(text, nullptr) : nullptr) {}
    ~Utf8Chars() {
        if (m_chars != nullptr) {
            m_env->ReleaseStringUTFChars(m_text, m_chars);
        }
    }
    Utf8Chars(const Utf8Chars&) = delete;
    Utf8Chars& operator=(const Utf8Chars&) = delete;

    const char* c_str() const noexcept { return m_chars; }

  private:
    JNIEnv* m_env;
    jstring m_text;
    const char* m_chars;
};

// The elements of a Java byte array, released without copying back. A null array gives
// null bytes and a length of 0.
class ByteElements {
  public:
    ByteElements(JNIEnv* env, jbyteArray array) noexcept
        : m_env(env),
          m_array(array),
          m_bytes(array ? env->GetByteArrayElements(array, nullptr) : nullptr),
          m_length(m_bytes ? env->GetArrayLength(array) : 0) {}
    ~ByteElements() {
        if (m_bytes != nullptr) {
            m_env->ReleaseByteArrayElements(m_array, m_bytes, JNI_ABORT);
        }
    }
    ByteElements(const ByteElements&) = delete;
    ByteElements& operator=(const ByteElements&) = delete;

    const uint8_t* data() const noexcept { return reinterpret_cast<const uint8_t*>(m_bytes); }
    jsize length() const noexcept { return m_length; }

  private:
    JNIEnv* m_env;
    jbyteArray m_array;
    jbyte* m_bytes;
    jsize m_length;
};

// The JNI environment of a thread that the engine started itself: attached to the VM
// as a daemon on construction, detached on destruction, so the thread never ends while
// still attached.
class AttachedThread {
  public:
    explicit AttachedThread(JavaVM* vm) noexcept;
    ~AttachedThread();
    AttachedThread(const AttachedThread&) = delete;
    AttachedThread& operator=(const AttachedThread&) = delete;

    JNIEnv* env() const noexcept { return m_env; }

  private:
    JavaVM* m_vm;
    JNIEnv* m_env = nullptr;
    bool m_attachedHere = false;
};

// A new Java string from standard UTF-8 text that comes from outside the VM (device
// names, log lines): malformed bytes become U+FFFD instead of reaching NewStringUTF,
// which accepts only well-formed modified UTF-8.
jstring newStringFromUtf8(JNIEnv* env, const char* utf8);

}  // namespace tallix::jni
