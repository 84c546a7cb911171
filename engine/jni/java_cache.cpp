#include "engine/jni/java_cache.h"

namespace tallix::jni {

JavaCache& javaCache() {
    static JavaCache* cache = new JavaCache();  // lives as long as the process
    return *cache;
}

namespace {

bool findClass(JNIEnv* env, const char* name, GlobalRef& out) {
    LocalRef<jclass> local(env, env->FindClass(name));
    if (!local) {
        env->ExceptionClear();  // NoClassDefFoundError: caching stops here
        return false;
    }
    out = GlobalRef(env, local.get());
    return static_cast<bool>(out);
}

bool method(JNIEnv* env, const GlobalRef& cls, const char* name, const char* signature,
            jmethodID& out) {
    out = env->GetMethodID(static_cast<jclass>(cls.get()), name, signature);
    if (out == nullptr) {
        env->ExceptionClear();
        return false;
    }
    return true;
}

}  // namespace

bool fillJavaCache(JNIEnv* env, JavaCache& c) {
    if (!findClass(env, "java/util/logging/LogRecord", c.logRecordClass) ||
        !method(env, c.logRecordClass, "<init>", "(Ljava/util/logging/Level;Ljava/lang/String;)V",
                c.logRecordInit) ||
        !findClass(env, "java/util/logging/Level", c.levelClass)) {
        return false;
    }
    static const char* const kLevelNames[5] = {"SEVERE", "WARNING", "INFO", "FINE", "FINEST"};
    jfieldID fields[5];
    for (int i = 0; i < 5; ++i) {
        fields[i] = env->GetStaticFieldID(static_cast<jclass>(c.levelClass.get()), kLevelNames[i],
                                          "Ljava/util/logging/Level;");
        if (fields[i] == nullptr) {
            env->ExceptionClear();
            return false;
        }
    }
    for (int i = 0; i < 5; ++i) {
        LocalRef<jobject> level(
            env, env->GetStaticObjectField(static_cast<jclass>(c.levelClass.get()), fields[i]));
        c.levels[i] = GlobalRef(env, level.get());
        if (!c.levels[i]) {
            return false;
        }
    }
    if (!findClass(env, "com/zephra/tallix/platform/TallixNative", c.nativeClass) ||
        !method(env, c.nativeClass, "callStarted", "(Ljava/lang/String;)V", c.callStarted) ||
        !method(env, c.nativeClass, "callEnded", "(Ljava/lang/String;)V", c.callEnded) ||
        !method(env, c.nativeClass, "callFailed", "(Ljava/lang/String;Ljava/lang/String;)V",
                c.callFailed) ||
        !method(env, c.nativeClass, "disconnectNetwork", "()V", c.disconnectNetwork) ||
        !method(env, c.nativeClass, "isTcpConnected", "()Z", c.isTcpConnected) ||
        !method(env, c.nativeClass, "connectTcp", "(Ljava/lang/String;S)V", c.connectTcp) ||
        !method(env, c.nativeClass, "sendTcpPacket", "([B)V", c.sendTcpPacket)) {
        return false;
    }
    if (!findClass(env, "com/zephra/tallix/devices/AudioDeviceList", c.deviceListClass) ||
        !method(env, c.deviceListClass, "addDevice", "(Lcom/zephra/tallix/devices/AudioDevice;)V",
                c.addDevice)) {
        return false;
    }
    if (!findClass(env, "com/zephra/tallix/devices/AudioDevice", c.deviceClass) ||
        !method(env, c.deviceClass, "<init>", "()V", c.deviceInit) ||
        !method(env, c.deviceClass, "getId", "()I", c.getId) ||
        !method(env, c.deviceClass, "setId", "(I)V", c.setId) ||
        !method(env, c.deviceClass, "setName", "(Ljava/lang/String;)V", c.setName) ||
        !method(env, c.deviceClass, "getKey", "()Ljava/lang/String;", c.getKey) ||
        !method(env, c.deviceClass, "setKey", "(Ljava/lang/String;)V", c.setKey) ||
        !method(env, c.deviceClass, "setInput", "(Z)V", c.setInput) ||
        !method(env, c.deviceClass, "setOutput", "(Z)V", c.setOutput) ||
        !method(env, c.deviceClass, "setDefaultInput", "(Z)V", c.setDefaultInput) ||
        !method(env, c.deviceClass, "setDefaultOutput", "(Z)V", c.setDefaultOutput)) {
        return false;
    }
    static const char* const kExceptionClasses[JavaCache::kExceptionCount] = {
        "com/zephra/tallix/exceptions/TallixException",
        "com/zephra/tallix/exceptions/DeviceNotFoundException",
        "com/zephra/tallix/exceptions/CallInProgressException",
        "com/zephra/tallix/exceptions/AudioRateMismatchException",
        "com/zephra/tallix/exceptions/AudioExclusiveModeException"};
    for (int i = 0; i < JavaCache::kExceptionCount; ++i) {
        if (!findClass(env, kExceptionClasses[i], c.exceptions[i])) {
            return false;
        }
    }
    c.complete = true;
    return true;
}

jobject levelFor(const JavaCache& cache, int level) {
    const int slot = level >= 1 && level <= 4 ? level - 1 : 4;
    return cache.levels[slot].get();
}

void throwJava(JNIEnv* env, JavaCache::Exception which, const char* message) {
    env->ThrowNew(static_cast<jclass>(javaCache().exceptions[which].get()), message);
}

}  // namespace tallix::jni
