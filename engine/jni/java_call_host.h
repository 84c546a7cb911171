// The call thread's view of the Java host: callbacks on the TallixNative object.
#pragma once

#include <memory>
#include <optional>

#include "engine/call_host.h"
#include "engine/engine_log.h"
#include "engine/jni/java_cache.h"

namespace tallix::jni {

// Created on the Java thread that starts the call (it takes its own global reference to
// the callback target there); used and finally released on the call thread, which is
// attached to the VM as a daemon from threadStarted() to threadEnding().
class JavaCallHost final : public CallHost {
  public:
    JavaCallHost(JNIEnv* env, jobject target, EngineLog& log);

    bool threadStarted() override;
    void threadEnding() override;
    bool connectTcp(const std::string& host, uint16_t port) override;
    bool isTcpConnected() override;
    bool sendTcpPacket(const uint8_t* data, int length) override;
    void disconnectNetwork() override;
    void callStarted(const std::string& pin) override;
    void callEnded(const std::string& pin) override;
    void callFailed(const std::string& pin, const std::string& reason) override;

  private:
    // Describes and clears a pending Java exception; true when there was one.
    bool raised();

    const JavaCache& m_cache;
    EngineLog& m_log;
    GlobalRef m_target;
    std::optional<AttachedThread> m_thread;
    JNIEnv* m_env = nullptr;
};

}  // namespace tallix::jni
