#include "taskbar/src/java_string.h"

#include "taskbar/src/jni_refs.h"

namespace taskbar {

static_assert(sizeof(wchar_t) == sizeof(jchar), "Windows wide characters are UTF-16 code units");

std::optional<std::wstring> copyJavaString(JNIEnv* env, jstring string) {
    if (string == nullptr) {
        return std::nullopt;
    }
    const jsize length = env->GetStringLength(string);
    StringChars chars(env, string);
    if (chars.get() == nullptr || length < 0) {
        return std::nullopt;
    }
    return std::wstring(reinterpret_cast<const wchar_t*>(chars.get()), static_cast<std::size_t>(length));
}

}  // namespace taskbar
