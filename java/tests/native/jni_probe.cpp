// JNI library of the harness check: converts text through the platform layer's UTF
// functions and calls back into Java, as the project's JNI libraries do.
#include <jni.h>

#include <string>
#include <thread>

#include "engine/jni/jni_refs.h"
#include "platform/utf.h"

extern "C" JNIEXPORT jstring JNICALL Java_com_zephra_testing_JniProbe_roundTrip(JNIEnv* env, jclass,
                                                                              jstring text) {
    const jsize length = env->GetStringLength(text);
    std::u16string wide(static_cast<size_t>(length), u'\0');
    env->GetStringRegion(text, 0, length, reinterpret_cast<jchar*>(wide.data()));
    const std::string modified = platform::utf16ToModifiedUtf8(wide);
    return env->NewStringUTF(modified.c_str());
}

extern "C" JNIEXPORT jint JNICALL Java_com_zephra_testing_JniProbe_callBack(JNIEnv* env, jclass,
                                                                          jobject callback, jint times) {
    jclass cls = env->GetObjectClass(callback);
    jmethodID accept = env->GetMethodID(cls, "accept", "(I)V");
    env->DeleteLocalRef(cls);
    if (accept == nullptr) {
        return -1;
    }
    jint done = 0;
    for (; done < times; ++done) {
        env->CallVoidMethod(callback, accept, done);
        if (env->ExceptionCheck()) {
            break;
        }
    }
    return done;
}

// The engine's global reference owner, made here and dropped on a thread that was never
// attached to the VM.
extern "C" JNIEXPORT void JNICALL Java_com_zephra_testing_JniProbe_dropOnUnattachedThread(JNIEnv* env, jclass,
                                                                                        jobject object) {
    tallix::jni::GlobalRef ref(env, object);
    std::thread([&ref] { ref.reset(); }).join();
}
