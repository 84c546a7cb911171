#include "engine/jni/java_call_host.h"

namespace tallix::jni {

JavaCallHost::JavaCallHost(JNIEnv* env, jobject target, EngineLog& log)
    : m_cache(javaCache()), m_log(log), m_target(env, target) {}

bool JavaCallHost::threadStarted() {
    m_thread.emplace(m_cache.vm);
    m_env = m_thread->env();
    if (m_env == nullptr) {
        m_log.log(kSevere, "Call thread could not attach to the Java VM");
        return false;
    }
    return true;
}

void JavaCallHost::threadEnding() {
    // The target's global reference is deleted while this thread still has an
    // environment; then the thread detaches.
    m_target.reset();
    m_env = nullptr;
    m_thread.reset();
}

bool JavaCallHost::raised() {
    if (!m_env->ExceptionCheck()) {
        return false;
    }
    m_env->ExceptionDescribe();
    m_env->ExceptionClear();
    return true;
}

bool JavaCallHost::connectTcp(const std::string& host, uint16_t port) {
    LocalRef<jstring> text(m_env, m_env->NewStringUTF(host.c_str()));
    if (!text) {
        raised();
        return false;
    }
    m_env->CallVoidMethod(m_target.get(), m_cache.connectTcp, text.get(),
                          static_cast<jshort>(port));
    return !raised();
}

bool JavaCallHost::isTcpConnected() {
    const jboolean connected = m_env->CallBooleanMethod(m_target.get(), m_cache.isTcpConnected);
    // A throwing host is taken as not connected; its exception must not stay pending
    // under the next JNI call.
    return !raised() && connected == JNI_TRUE;
}

bool JavaCallHost::sendTcpPacket(const uint8_t* data, int length) {
    LocalRef<jbyteArray> packet(m_env, m_env->NewByteArray(length));
    if (!packet) {
        raised();
        return false;
    }
    m_env->SetByteArrayRegion(packet.get(), 0, length, reinterpret_cast<const jbyte*>(data));
    m_env->CallVoidMethod(m_target.get(), m_cache.sendTcpPacket, packet.get());
    return !raised();
}

void JavaCallHost::disconnectNetwork() {
    m_env->CallVoidMethod(m_target.get(), m_cache.disconnectNetwork);
    raised();
}

void JavaCallHost::callStarted(const std::string& pin) {
    LocalRef<jstring> text(m_env, m_env->NewStringUTF(pin.c_str()));
    m_env->CallVoidMethod(m_target.get(), m_cache.callStarted, text.get());
    raised();
}

void JavaCallHost::callEnded(const std::string& pin) {
    LocalRef<jstring> text(m_env, m_env->NewStringUTF(pin.c_str()));
    m_env->CallVoidMethod(m_target.get(), m_cache.callEnded, text.get());
    raised();
}

void JavaCallHost::callFailed(const std::string& pin, const std::string& reason) {
    LocalRef<jstring> pinText(m_env, m_env->NewStringUTF(pin.c_str()));
    LocalRef<jstring> reasonText(m_env, m_env->NewStringUTF(reason.c_str()));
    m_env->CallVoidMethod(m_target.get(), m_cache.callFailed, pinText.get(), reasonText.get());
    raised();
}

}  // namespace tallix::jni
