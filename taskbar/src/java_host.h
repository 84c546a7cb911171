// What the library knows of the Java host: the virtual machine that loaded it, the
// host class, its callback and the object the callback is invoked on.
#pragma once

#include <jni.h>

namespace taskbar {

inline constexpr jint kJniVersion = JNI_VERSION_1_4;
inline constexpr const char* kHostClassName = "com/zephra/client/platform/windows/taskbar/WindowsTaskbarOperationsImpl";

// The load hook's work: remembers the virtual machine, looks up the host class and
// its onJumpListClick(String) method and describes any exception that raised.
// Returns the JNI version the library needs.
jint bindToVirtualMachine(JavaVM* vm);

// Makes a global reference to `target` and makes it the object the callback is
// invoked on; the previous target's global reference is deleted (the pipe server
// thread calls on a local reference of its own, so it is never left with a deleted one).
void setCallbackTarget(JNIEnv* env, jobject target);

// The calling thread's JNI environment; a thread that is not attached is attached as
// a daemon (it stays attached). Null when there is no virtual machine or the attach
// fails.
JNIEnv* environmentOfThisThread();

// Calls onJumpListClick(text) on the callback target. `modifiedUtf8` is the text in
// the modified UTF-8 of NewStringUTF. An exception thrown by the host is described
// and cleared, so that the thread can go on making JNI calls.
void callOnJumpListClick(JNIEnv* env, const char* modifiedUtf8);

}  // namespace taskbar
