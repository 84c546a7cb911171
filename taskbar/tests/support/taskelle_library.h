// Taskelle.dll loaded as the Java host would load it: by its file, its native methods
// found under their plain JNI names, its load hook run with the test virtual machine.
#pragma once

#include <jni.h>
#include <windows.h>

#include "tests/support/test_jvm.h"

namespace taskbar_test {

// The virtual machine double shared with the engine's tests.
using zephra_test::ClickCall;
using zephra_test::decodeModifiedUtf8;
using zephra_test::TestJvm;
using zephra_test::testJvm;

struct TaskelleLibrary {
    HMODULE module = nullptr;
    jint onLoadResult = 0;
    jint(JNICALL* onLoad)(JavaVM*, void*) = nullptr;
    void(JNICALL* init)(JNIEnv*, jobject, jstring) = nullptr;
    void(JNICALL* setOverlay)(JNIEnv*, jobject, jobject, jstring, jint) = nullptr;
    jint(JNICALL* clearOverlay)(JNIEnv*, jobject, jobject) = nullptr;
    void(JNICALL* flashWindow)(JNIEnv*, jobject, jobject) = nullptr;
    jint(JNICALL* getVersionNumber)(JNIEnv*, jobject) = nullptr;
    void(JNICALL* addToJumpList)(JNIEnv*, jobject, jstring, jstring, jstring, jstring, jint) = nullptr;
    void(JNICALL* addSeparatorToJumpList)(JNIEnv*, jobject) = nullptr;
    void(JNICALL* clearJumpList)(JNIEnv*, jobject) = nullptr;
    void(JNICALL* close)(JNIEnv*, jobject) = nullptr;

    bool complete() const;
};

// Loaded once per process, from the test program's directory; JNI_OnLoad has run.
TaskelleLibrary& taskelle();

}  // namespace taskbar_test
