// The native methods of com.zephra.tallix.platform.TallixNative.
//
// Every method that reaches the session library first checks that the load-time cache
// is complete and that _initLibrary succeeded; before that it returns a neutral value
// and throws nothing. Only this file turns result codes into Java exceptions.
#include <jni.h>

#include <memory>
#include <vector>

#include "engine/engine.h"
#include "engine/jni/java_cache.h"
#include "engine/jni/java_call_host.h"

using tallix::Engine;
using tallix::Result;
using tallix::jni::JavaCache;
using tallix::jni::javaCache;
using tallix::jni::LocalRef;
using tallix::jni::throwJava;
using tallix::jni::Utf8Chars;

#define TALLIX_NATIVE(result, name) \
    extern "C" JNIEXPORT result JNICALL Java_com_zephra_tallix_platform_TallixNative_##name

namespace {

bool ready() {
    return javaCache().complete && Engine::instance().initialised();
}

struct ThrowRule {
    Result code;
    JavaCache::Exception exception;
    const char* message;
};

// Throws the exception that `rules` give for `code`, or `fallbackMessage` as a
// TallixException for any other non-zero code.
void throwFor(JNIEnv* env, Result code, std::initializer_list<ThrowRule> rules,
              const char* fallbackMessage) {
    if (code == Result::ok) {
        return;
    }
    for (const ThrowRule& rule : rules) {
        if (rule.code == code) {
            throwJava(env, rule.exception, rule.message);
            return;
        }
    }
    throwJava(env, JavaCache::kTallix, fallbackMessage);
}

}  // namespace

extern "C" JNIEXPORT jint JNICALL JNI_OnLoad(JavaVM* vm, void*) {
    JavaCache& cache = javaCache();
    cache.vm = vm;
    JNIEnv* env = nullptr;
    if (vm->GetEnv(reinterpret_cast<void**>(&env), JNI_VERSION_1_4) == JNI_OK) {
        tallix::jni::fillJavaCache(env, cache);
    }
    return JNI_VERSION_1_4;
}

// The callback target is the object of the latest successful _initLibrary.
static tallix::jni::GlobalRef& callbackTarget() {
    static auto* target = new tallix::jni::GlobalRef();
    return *target;
}

TALLIX_NATIVE(jboolean, _1initLibrary)(JNIEnv* env, jobject self) {
    if (!javaCache().complete) {
        return JNI_FALSE;
    }
    if (!Engine::instance().initialise(tallix::defaultSessionLibraryPath())) {
        return JNI_FALSE;
    }
    callbackTarget() = tallix::jni::GlobalRef(env, self);
    return JNI_TRUE;
}

TALLIX_NATIVE(jstring, _1getLibraryVersion)(JNIEnv* env, jobject) {
    if (!ready()) {
        return nullptr;
    }
    return env->NewStringUTF(Engine::instance().api().version());
}

TALLIX_NATIVE(void, _1setCallerId)(JNIEnv* env, jobject, jstring id) {
    if (!ready() || id == nullptr) {
        return;
    }
    Utf8Chars text(env, id);
    Engine::instance().call.setCallerId(text.c_str());
}

TALLIX_NATIVE(void, _1listAudioDevices)(JNIEnv* env, jobject, jobject list) {
    if (!ready() || list == nullptr) {
        return;
    }
    const JavaCache& c = javaCache();
    for (const tallix::DeviceEntry& entry : Engine::instance().registry.devices()) {
        LocalRef<jobject> device(
            env, env->NewObject(static_cast<jclass>(c.deviceClass.get()), c.deviceInit));
        if (!device) {
            return;  // OutOfMemoryError pending
        }
        LocalRef<jstring> name(env, tallix::jni::newStringFromUtf8(env, entry.name.c_str()));
        LocalRef<jstring> key(env, tallix::jni::newStringFromUtf8(env, entry.key.c_str()));
        // Each call is checked: a setter of the host that throws ends the listing with
        // its exception pending for the caller.
        auto set = [&](jmethodID method, auto value) {
            env->CallVoidMethod(device.get(), method, value);
            return !env->ExceptionCheck();
        };
        if (!set(c.setId, static_cast<jint>(entry.index)) || !set(c.setName, name.get()) ||
            !set(c.setKey, key.get()) || (entry.isInput && !set(c.setInput, JNI_TRUE)) ||
            (entry.isOutput && !set(c.setOutput, JNI_TRUE)) ||
            (entry.isDefaultInput && !set(c.setDefaultInput, JNI_TRUE)) ||
            (entry.isDefaultOutput && !set(c.setDefaultOutput, JNI_TRUE))) {
            return;
        }
        env->CallVoidMethod(list, c.addDevice, device.get());
        if (env->ExceptionCheck()) {
            return;  // the host's exception reaches its caller
        }
    }
}

TALLIX_NATIVE(void, _1changeAudioDevices)
(JNIEnv* env, jobject, jstring inputKey, jstring outputKey, jboolean loopback) {
    if (!ready()) {
        return;
    }
    Utf8Chars input(env, inputKey);
    Utf8Chars output(env, outputKey);
    const Result code =
        Engine::instance().streams.changeDevices(input.c_str(), output.c_str(), loopback != 0);
    throwFor(env, code,
             {{Result::deviceNotFound, JavaCache::kDeviceNotFound,
               "Cannot find audio device to switch to"}},
             "Unexpected error while switching devices");
}

TALLIX_NATIVE(void, _1rescanAudioDevices)(JNIEnv* env, jobject, jboolean restart) {
    if (!ready()) {
        return;
    }
    throwFor(env, Engine::instance().rescan.rescan(restart != 0),
             {{Result::busy, JavaCache::kCallInProgress,
               "Cannot rescan devices - call in progress"}},
             "Unexpected error while rescanning devices");
}

TALLIX_NATIVE(void, _1playTestTone)(JNIEnv* env, jobject, jstring deviceKey) {
    if (!ready()) {
        return;
    }
    Utf8Chars key(env, deviceKey);
    throwFor(env, Engine::instance().sounds.playTestTone(key.c_str()),
             {{Result::deviceNotFound, JavaCache::kDeviceNotFound,
               "Cannot find device to play test tone"},
              {Result::busy, JavaCache::kCallInProgress,
               "Cannot play test tone - call in progress"}},
             "Unexpected error while playing test tone");
}

namespace {

void playSound(JNIEnv* env, jstring deviceKey, jbyteArray samples, jint sampleRate, bool loop) {
    if (!ready()) {
        return;
    }
    Result code = Result::failed;
    {
        Utf8Chars key(env, deviceKey);
        tallix::jni::ByteElements bytes(env, samples);
        if (bytes.data() == nullptr) {
            Engine::instance().log.log(tallix::kSevere, "Refused sound clip without samples");
        } else {
            code = Engine::instance().sounds.playSound(key.c_str(), bytes.data(), bytes.length(),
                                                       sampleRate, loop);
        }
    }
    throwFor(env, code,
             {{Result::deviceNotFound, JavaCache::kDeviceNotFound,
               "Cannot find device to play sound"},
              {Result::busy, JavaCache::kCallInProgress, "Cannot play sound - call in progress"}},
             "Unexpected error while playing sound");
}

}  // namespace

TALLIX_NATIVE(void, _1playAudioFile)
(JNIEnv* env, jobject, jstring deviceKey, jbyteArray samples, jint sampleRate) {
    playSound(env, deviceKey, samples, sampleRate, false);
}

TALLIX_NATIVE(void, _1startPlayingSound)
(JNIEnv* env, jobject, jstring deviceKey, jbyteArray samples, jint sampleRate) {
    playSound(env, deviceKey, samples, sampleRate, true);
}

TALLIX_NATIVE(void, _1stopPlayingSound)(JNIEnv* env, jobject) {
    if (ready()) {
        throwFor(env, Engine::instance().sounds.stopSound(), {},
                 "Unexpected error while stopping playing sound");
    }
}

TALLIX_NATIVE(jfloat, _1getInputLevel)(JNIEnv*, jobject) {
    return Engine::instance().controls.inputLevel.load(std::memory_order_relaxed);
}
TALLIX_NATIVE(void, _1setInputLevel)(JNIEnv*, jobject, jfloat level) {
    Engine::instance().controls.inputLevel.store(level, std::memory_order_relaxed);
}
TALLIX_NATIVE(jfloat, _1getOutputLevel)(JNIEnv*, jobject) {
    return Engine::instance().controls.outputLevel.load(std::memory_order_relaxed);
}
TALLIX_NATIVE(void, _1setOutputLevel)(JNIEnv*, jobject, jfloat level) {
    Engine::instance().controls.outputLevel.store(level, std::memory_order_relaxed);
}
TALLIX_NATIVE(jboolean, _1isInputMuted)(JNIEnv*, jobject) {
    return Engine::instance().controls.inputMuted.load(std::memory_order_relaxed) ? JNI_TRUE
                                                                                  : JNI_FALSE;
}
TALLIX_NATIVE(void, _1setInputMuted)(JNIEnv*, jobject, jboolean muted) {
    Engine::instance().controls.inputMuted.store(muted != 0, std::memory_order_relaxed);
}
TALLIX_NATIVE(jboolean, _1isCallInProgress)(JNIEnv*, jobject) {
    return Engine::instance().call.inProgress() ? JNI_TRUE : JNI_FALSE;
}

TALLIX_NATIVE(void, _1startCall)
(JNIEnv* env, jobject, jstring pin, jstring host, jshort port, jstring service, jstring inputKey,
 jstring outputKey, jboolean loopback) {
    if (!ready()) {
        return;
    }
    Result code = Result::failed;
    if (pin != nullptr && host != nullptr && service != nullptr) {
        Utf8Chars pinText(env, pin), hostText(env, host), serviceText(env, service);
        Utf8Chars input(env, inputKey), output(env, outputKey);
        tallix::CallParameters parameters{pinText.c_str(), hostText.c_str(),
                                          static_cast<uint16_t>(port), serviceText.c_str()};
        Engine& engine = Engine::instance();
        auto callHost =
            std::make_shared<tallix::jni::JavaCallHost>(env, callbackTarget().get(), engine.log);
        code = engine.call.start(std::move(parameters), input.c_str(), output.c_str(),
                                 loopback != 0, std::move(callHost));
    }
    throwFor(env, code,
             {{Result::deviceNotFound, JavaCache::kDeviceNotFound,
               "Cannot find audio device to start call"},
              {Result::busy, JavaCache::kCallInProgress, "Cannot start call - already on a call"},
              {Result::noCommonRate, JavaCache::kRateMismatch,
               "Cannot start call - input/output audio rate mismatch"},
              {Result::exclusiveFailed, JavaCache::kExclusiveMode,
               "Cannot start call - failed to start audio devices in exclusive mode"}},
             "Unexpected error while starting call");
}

TALLIX_NATIVE(void, _1endCall)(JNIEnv*, jobject) {
    if (ready()) {
        Engine::instance().call.end();
    }
}

TALLIX_NATIVE(void, _1tcpPacketReceived)(JNIEnv* env, jobject, jbyteArray data, jint length) {
    if (!ready()) {
        return;
    }
    Engine& engine = Engine::instance();
    const jsize available = data ? env->GetArrayLength(data) : 0;
    if (length < 0 || length > available) {
        engine.log.log(tallix::kSevere,
                       "Refused TCP packet: length %d outside its array of %d bytes",
                       static_cast<int>(length), static_cast<int>(available));
        return;
    }
    if (length > tallix::NetPacket::kCapacity) {
        engine.call.tcpPacketReceived(nullptr, length);  // refused and logged there
        return;
    }
    std::vector<uint8_t> bytes(static_cast<size_t>(length));
    env->GetByteArrayRegion(data, 0, length, reinterpret_cast<jbyte*>(bytes.data()));
    engine.call.tcpPacketReceived(bytes.data(), length);
}

TALLIX_NATIVE(void, _1tcpReadError)(JNIEnv*, jobject) {
    if (ready()) {
        Engine::instance().call.tcpReadError();
    }
}

namespace {

jboolean audioFlag(int flag) {
    if (!ready()) {
        return JNI_FALSE;
    }
    Engine& engine = Engine::instance();
    return engine.api().getAudioFlag(engine.client(), flag) != 0 ? JNI_TRUE : JNI_FALSE;
}

void setAudioFlag(int flag, jboolean on) {
    if (ready()) {
        Engine& engine = Engine::instance();
        engine.api().setAudioFlag(engine.client(), flag, on != 0 ? 1 : 0);
    }
}

}  // namespace

TALLIX_NATIVE(jboolean, _1isAecEnabled)(JNIEnv*, jobject) {
    return audioFlag(1);
}
TALLIX_NATIVE(void, _1setAecEnabled)(JNIEnv*, jobject, jboolean on) {
    setAudioFlag(1, on);
}
TALLIX_NATIVE(jboolean, _1isAgcEnabled)(JNIEnv*, jobject) {
    return audioFlag(2);
}
TALLIX_NATIVE(void, _1setAgcEnabled)(JNIEnv*, jobject, jboolean on) {
    setAudioFlag(2, on);
}
TALLIX_NATIVE(jboolean, _1isNoiseSuppressionEnabled)(JNIEnv*, jobject) {
    return audioFlag(3);
}
TALLIX_NATIVE(void, _1setNoiseSuppressionEnabled)(JNIEnv*, jobject, jboolean on) {
    setAudioFlag(3, on);
}

TALLIX_NATIVE(jobject, _1getNextLogEntry)(JNIEnv* env, jobject) {
    if (!javaCache().complete) {
        return nullptr;
    }
    Engine& engine = Engine::instance();
    const tallix::SessionApi* api = engine.log.api();
    QelLogManager* manager = engine.log.manager();
    if (api == nullptr || manager == nullptr) {
        return nullptr;
    }
    const LogWalkEntry* entry = api->logWalk(manager);
    if (entry == nullptr) {
        return nullptr;
    }
    const JavaCache& c = javaCache();
    LocalRef<jstring> text(env, tallix::jni::newStringFromUtf8(env, entry->text));
    return env->NewObject(static_cast<jclass>(c.logRecordClass.get()), c.logRecordInit,
                          tallix::jni::levelFor(c, entry->level), text.get());
}
