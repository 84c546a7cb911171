// Finding the native window of a Java AWT component.
#pragma once

#include <jni.h>
#include <windows.h>

namespace taskbar {

// The window of `component`, found through the AWT native interface, or null (with a
// printed message) when the AWT or the component's drawing surface is unavailable.
// Everything borrowed from the AWT is given back before it returns.
HWND findComponentWindow(JNIEnv* env, jobject component);

}  // namespace taskbar
