// Classes, method identifiers and Level objects of the Java host, cached once when the
// VM loads the library, and the process's callback target.
#pragma once

#include <jni.h>

#include "engine/jni/jni_refs.h"

namespace tallix::jni {

struct JavaCache {
    JavaVM* vm = nullptr;

    GlobalRef logRecordClass;
    jmethodID logRecordInit = nullptr;
    GlobalRef levelClass;
    GlobalRef levels[5];  // SEVERE, WARNING, INFO, FINE, FINEST

    GlobalRef nativeClass;
    jmethodID callStarted = nullptr;
    jmethodID callEnded = nullptr;
    jmethodID callFailed = nullptr;
    jmethodID disconnectNetwork = nullptr;
    jmethodID isTcpConnected = nullptr;
    jmethodID connectTcp = nullptr;
    jmethodID sendTcpPacket = nullptr;

    GlobalRef deviceListClass;
    jmethodID addDevice = nullptr;

    GlobalRef deviceClass;
    jmethodID deviceInit = nullptr;
    jmethodID getId = nullptr;
    jmethodID setId = nullptr;
    jmethodID setName = nullptr;
    jmethodID getKey = nullptr;
    jmethodID setKey = nullptr;
    jmethodID setInput = nullptr;
    jmethodID setOutput = nullptr;
    jmethodID setDefaultInput = nullptr;
    jmethodID setDefaultOutput = nullptr;

    enum Exception {
        kTallix,
        kDeviceNotFound,
        kCallInProgress,
        kRateMismatch,
        kExclusiveMode,
        kExceptionCount
    };
    GlobalRef exceptions[kExceptionCount];

    // Set only when every class, field and method above was found.
    bool complete = false;
};

// Written once by JNI_OnLoad, then only read.
JavaCache& javaCache();

// Fills the cache in the documented order, stopping at the first class, field or
// method that is missing. Returns whether everything was found.
bool fillJavaCache(JNIEnv* env, JavaCache& cache);

// The java.util.logging.Level object for an engine log level (1..4, else FINEST).
jobject levelFor(const JavaCache& cache, int level);

// Throws `which` with `message`; the exception is pending when the native returns.
void throwJava(JNIEnv* env, JavaCache::Exception which, const char* message);

}  // namespace tallix::jni
