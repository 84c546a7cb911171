// The native methods of com.zephra.tallix.platform.TallixNative.
//
// Every method that reaches the session library first checks that the load-time cache
// is complete and that _initLibrary succeeded; before that it returns a neutral value
// and throws nothing. Only this file turns result codes into Java exceptions.
//
// No C++ exception leaves a method: each body runs through native() (or, for methods
// whose work gives a result code, nativeResult(), where an exception counts as an
// unexpected failure and throws the method's documented TallixException).
#include <jni.h>

#include <utility>
#include <memory>
#include <vector>

#include "engine/engine.h"
#include "engine/guarded.h"
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

tallix::EngineLog* engineLog() noexcept {
    Engine* engine = Engine::existing();
    return engine != nullptr ? &engine->log : nullptr;
}

template <typename T, typename Body>
T native(const char* name, T neutral, Body&& body) noexcept {
    return tallix::guarded(engineLog(), name, neutral, std::forward<Body>(body));
}

template <typename Body>
void native(const char* name, Body&& body) noexcept {
    (void)tallix::guarded(engineLog(), name, std::forward<Body>(body));
}

template <typename Body>
Result nativeResult(const char* name, Body&& body) noexcept {
    return tallix::guarded(engineLog(), name, Result::failed, std::forward<Body>(body));
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
    native("JNI_OnLoad", [&] {
        JNIEnv* env = nullptr;
        if (vm->GetEnv(reinterpret_cast<void**>(&env), JNI_VERSION_1_4) == JNI_OK) {
            tallix::jni::fillJavaCache(env, cache);
        }
    });
    return JNI_VERSION_1_4;
}

// The callback target is the object of the latest successful _initLibrary.
static tallix::jni::GlobalRef& callbackTarget() {
    static auto* target = new tallix::jni::GlobalRef();
    return *target;
}

TALLIX_NATIVE(jboolean, _1initLibrary)(JNIEnv* env, jobject self) {
    return native("_initLibrary", JNI_FALSE, [&]() -> jboolean {
        if (!javaCache().complete) {
            return JNI_FALSE;
        }
        if (!Engine::instance().initialise(tallix::sessionLibraryPath())) {
            return JNI_FALSE;
        }
        callbackTarget() = tallix::jni::GlobalRef(env, self);
        return JNI_TRUE;
    });
}

TALLIX_NATIVE(jstring, _1getLibraryVersion)(JNIEnv* env, jobject) {
    return native("_getLibraryVersion", jstring{}, [&]() -> jstring {
        if (!ready()) {
            return nullptr;
        }
        return env->NewStringUTF(Engine::instance().api().version());
    });
}

TALLIX_NATIVE(void, _1setCallerId)(JNIEnv* env, jobject, jstring id) {
    native("_setCallerId", [&] {
        if (!ready() || id == nullptr) {
            return;
        }
        Utf8Chars text(env, id);
        Engine::instance().call.setCallerId(text.c_str());
    });
}

namespace {

void listAudioDevices(JNIEnv* env, jobject list) {
    if (!ready() || list == nullptr) {
        return;
    }
    const JavaCache& c = javaCache();
    std::vector<tallix::DeviceEntry> devices;
    {
        // A copy: the call thread enumerates again while it reopens the stream of a
        // lost device, and the Java calls below are not made under the lock.
        Engine& engine = Engine::instance();
        std::lock_guard lock(engine.slots.portAudio);
        devices = engine.registry.devices();
    }
    for (const tallix::DeviceEntry& entry : devices) {
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

}  // namespace

TALLIX_NATIVE(void, _1listAudioDevices)(JNIEnv* env, jobject, jobject list) {
    native("_listAudioDevices", [&] { listAudioDevices(env, list); });
}

TALLIX_NATIVE(void, _1changeAudioDevices)
(JNIEnv* env, jobject, jstring inputKey, jstring outputKey, jboolean loopback) {
    if (!native("_changeAudioDevices", false, [] { return ready(); })) {
        return;
    }
    const Result code = nativeResult("_changeAudioDevices", [&] {
        Utf8Chars input(env, inputKey);
        Utf8Chars output(env, outputKey);
        return Engine::instance().streams.changeDevices(input.c_str(), output.c_str(),
                                                        loopback != 0);
    });
    throwFor(env, code,
             {{Result::deviceNotFound, JavaCache::kDeviceNotFound,
               "Cannot find audio device to switch to"}},
             "Unexpected error while switching devices");
}

TALLIX_NATIVE(void, _1rescanAudioDevices)(JNIEnv* env, jobject, jboolean restart) {
    if (!native("_rescanAudioDevices", false, [] { return ready(); })) {
        return;
    }
    const Result code = nativeResult("_rescanAudioDevices", [&] {
        return Engine::instance().rescan.rescan(restart != 0);
    });
    throwFor(env, code,
             {{Result::busy, JavaCache::kCallInProgress,
               "Cannot rescan devices - call in progress"}},
             "Unexpected error while rescanning devices");
}

TALLIX_NATIVE(void, _1playTestTone)(JNIEnv* env, jobject, jstring deviceKey) {
    if (!native("_playTestTone", false, [] { return ready(); })) {
        return;
    }
    const Result code = nativeResult("_playTestTone", [&] {
        Utf8Chars key(env, deviceKey);
        return Engine::instance().sounds.playTestTone(key.c_str());
    });
    throwFor(env, code,
             {{Result::deviceNotFound, JavaCache::kDeviceNotFound,
               "Cannot find device to play test tone"},
              {Result::busy, JavaCache::kCallInProgress,
               "Cannot play test tone - call in progress"}},
             "Unexpected error while playing test tone");
}

namespace {

void playSound(JNIEnv* env, jstring deviceKey, jbyteArray samples, jint sampleRate, bool loop) {
    if (!native("_playAudioFile", false, [] { return ready(); })) {
        return;
    }
    const Result code = nativeResult(loop ? "_startPlayingSound" : "_playAudioFile", [&] {
        Utf8Chars key(env, deviceKey);
        tallix::jni::ByteElements bytes(env, samples);
        if (bytes.data() == nullptr) {
            Engine::instance().log.log(tallix::kSevere, "Refused sound clip without samples");
            return Result::failed;
        }
        return Engine::instance().sounds.playSound(key.c_str(), bytes.data(), bytes.length(),
                                                   sampleRate, loop);
    });
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
    if (!native("_stopPlayingSound", false, [] { return ready(); })) {
        return;
    }
    const Result code = nativeResult("_stopPlayingSound",
                                     [] { return Engine::instance().sounds.stopSound(); });
    throwFor(env, code, {}, "Unexpected error while stopping playing sound");
}

// The level and mute methods touch only atomics of the engine; what can throw is the
// engine's creation on first use.
TALLIX_NATIVE(jfloat, _1getInputLevel)(JNIEnv*, jobject) {
    return native("_getInputLevel", 0.0f, [] {
        return Engine::instance().controls.inputLevel.load(std::memory_order_relaxed);
    });
}
TALLIX_NATIVE(void, _1setInputLevel)(JNIEnv*, jobject, jfloat level) {
    native("_setInputLevel", [&] {
        Engine::instance().controls.inputLevel.store(level, std::memory_order_relaxed);
    });
}
TALLIX_NATIVE(jfloat, _1getOutputLevel)(JNIEnv*, jobject) {
    return native("_getOutputLevel", 0.0f, [] {
        return Engine::instance().controls.outputLevel.load(std::memory_order_relaxed);
    });
}
TALLIX_NATIVE(void, _1setOutputLevel)(JNIEnv*, jobject, jfloat level) {
    native("_setOutputLevel", [&] {
        Engine::instance().controls.outputLevel.store(level, std::memory_order_relaxed);
    });
}
TALLIX_NATIVE(jboolean, _1isInputMuted)(JNIEnv*, jobject) {
    return native("_isInputMuted", JNI_FALSE, []() -> jboolean {
        return Engine::instance().controls.inputMuted.load(std::memory_order_relaxed) ? JNI_TRUE
                                                                                      : JNI_FALSE;
    });
}
TALLIX_NATIVE(void, _1setInputMuted)(JNIEnv*, jobject, jboolean muted) {
    native("_setInputMuted", [&] {
        Engine::instance().controls.inputMuted.store(muted != 0, std::memory_order_relaxed);
    });
}
TALLIX_NATIVE(jboolean, _1isCallInProgress)(JNIEnv*, jobject) {
    return native("_isCallInProgress", JNI_FALSE, []() -> jboolean {
        return Engine::instance().call.inProgress() ? JNI_TRUE : JNI_FALSE;
    });
}

TALLIX_NATIVE(void, _1startCall)
(JNIEnv* env, jobject, jstring pin, jstring host, jshort port, jstring service, jstring inputKey,
 jstring outputKey, jboolean loopback) {
    if (!native("_startCall", false, [] { return ready(); })) {
        return;
    }
    const Result code = nativeResult("_startCall", [&] {
        if (pin == nullptr || host == nullptr || service == nullptr) {
            return Result::failed;
        }
        Utf8Chars pinText(env, pin), hostText(env, host), serviceText(env, service);
        Utf8Chars input(env, inputKey), output(env, outputKey);
        tallix::CallParameters parameters{pinText.c_str(), hostText.c_str(),
                                          static_cast<uint16_t>(port), serviceText.c_str()};
        Engine& engine = Engine::instance();
        auto callHost =
            std::make_shared<tallix::jni::JavaCallHost>(env, callbackTarget().get(), engine.log);
        return engine.call.start(std::move(parameters), input.c_str(), output.c_str(),
                                 loopback != 0, std::move(callHost));
    });
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
    native("_endCall", [] {
        if (ready()) {
            Engine::instance().call.end();
        }
    });
}

TALLIX_NATIVE(void, _1tcpPacketReceived)(JNIEnv* env, jobject, jbyteArray data, jint length) {
    native("_tcpPacketReceived", [&] {
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
    });
}

TALLIX_NATIVE(void, _1tcpReadError)(JNIEnv*, jobject) {
    native("_tcpReadError", [] {
        if (ready()) {
            Engine::instance().call.tcpReadError();
        }
    });
}

namespace {

jboolean audioFlag(const char* name, int flag) {
    return native(name, JNI_FALSE, [&]() -> jboolean {
        if (!ready()) {
            return JNI_FALSE;
        }
        Engine& engine = Engine::instance();
        return engine.api().getAudioFlag(engine.client(), flag) != 0 ? JNI_TRUE : JNI_FALSE;
    });
}

void setAudioFlag(const char* name, int flag, jboolean on) {
    native(name, [&] {
        if (ready()) {
            Engine& engine = Engine::instance();
            engine.api().setAudioFlag(engine.client(), flag, on != 0 ? 1 : 0);
        }
    });
}

}  // namespace

TALLIX_NATIVE(jboolean, _1isAecEnabled)(JNIEnv*, jobject) {
    return audioFlag("_isAecEnabled", 1);
}
TALLIX_NATIVE(void, _1setAecEnabled)(JNIEnv*, jobject, jboolean on) {
    setAudioFlag("_setAecEnabled", 1, on);
}
TALLIX_NATIVE(jboolean, _1isAgcEnabled)(JNIEnv*, jobject) {
    return audioFlag("_isAgcEnabled", 2);
}
TALLIX_NATIVE(void, _1setAgcEnabled)(JNIEnv*, jobject, jboolean on) {
    setAudioFlag("_setAgcEnabled", 2, on);
}
TALLIX_NATIVE(jboolean, _1isNoiseSuppressionEnabled)(JNIEnv*, jobject) {
    return audioFlag("_isNoiseSuppressionEnabled", 3);
}
TALLIX_NATIVE(void, _1setNoiseSuppressionEnabled)(JNIEnv*, jobject, jboolean on) {
    setAudioFlag("_setNoiseSuppressionEnabled", 3, on);
}

TALLIX_NATIVE(jobject, _1getNextLogEntry)(JNIEnv* env, jobject) {
    return native("_getNextLogEntry", jobject{}, [&]() -> jobject {
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
    });
}
