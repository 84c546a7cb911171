// Copying Java strings into wide strings for the Windows calls.
#pragma once

#include <jni.h>

#include <optional>
#include <string>

namespace taskbar {

// The UTF-16 code units of `string`, unchanged (surrogate pairs stay pairs). Nothing
// for a null reference, or when the virtual machine cannot lend the characters.
std::optional<std::wstring> copyJavaString(JNIEnv* env, jstring string);

}  // namespace taskbar
