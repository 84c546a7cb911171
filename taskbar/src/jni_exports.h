// Declarations of the native methods of
// com.zephra.client.platform.windows.taskbar.WindowsTaskbarOperationsImpl.
#pragma once

#include <jni.h>

#define TASKBAR_METHOD(name) Java_com_zephra_client_platform_windows_taskbar_WindowsTaskbarOperationsImpl_##name

extern "C" {

JNIEXPORT jint JNICALL JNI_OnLoad(JavaVM* vm, void* reserved);
JNIEXPORT void JNICALL TASKBAR_METHOD(_1init)(JNIEnv* env, jobject self, jstring unused);
JNIEXPORT void JNICALL TASKBAR_METHOD(_1setOverlay)(JNIEnv* env, jobject self, jobject component, jstring library,
                                                    jint iconNumber);
JNIEXPORT jint JNICALL TASKBAR_METHOD(_1clearOverlay)(JNIEnv* env, jobject self, jobject component);
JNIEXPORT void JNICALL TASKBAR_METHOD(_1flashWindow)(JNIEnv* env, jobject self, jobject component);
JNIEXPORT jint JNICALL TASKBAR_METHOD(_1getVersionNumber)(JNIEnv* env, jobject self);
JNIEXPORT void JNICALL TASKBAR_METHOD(_1addToJumpList)(JNIEnv* env, jobject self, jstring label, jstring arguments,
                                                       jstring category, jstring iconLibrary, jint iconIndex);
JNIEXPORT void JNICALL TASKBAR_METHOD(_1addSeparatorToJumpList)(JNIEnv* env, jobject self);
JNIEXPORT void JNICALL TASKBAR_METHOD(_1clearJumpList)(JNIEnv* env, jobject self);
JNIEXPORT void JNICALL TASKBAR_METHOD(_1close)(JNIEnv* env, jobject self);

}  // extern "C"
