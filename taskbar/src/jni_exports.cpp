// The native methods of com.zephra.client.platform.windows.taskbar
// .WindowsTaskbarOperationsImpl and the library's load hook. Nothing here throws into
// Java: failures are printed and the operation goes on where it can, and each body
// runs through guarded(), so that no C++ exception (out of memory in a string copy,
// say) leaves a method either.
#include "taskbar/src/jni_exports.h"

#include <cstdio>

#include "taskbar/src/component_window.h"
#include "taskbar/src/guarded.h"
#include "taskbar/src/java_host.h"
#include "taskbar/src/java_string.h"
#include "taskbar/src/jump_list.h"
#include "taskbar/src/pipe_server.h"
#include "taskbar/src/taskbar_window.h"

using namespace taskbar;

extern "C" {

JNIEXPORT jint JNICALL JNI_OnLoad(JavaVM* vm, void*) {
    return guarded("JNI_OnLoad", kJniVersion, [&] { return bindToVirtualMachine(vm); });
}

JNIEXPORT void JNICALL TASKBAR_METHOD(_1init)(JNIEnv* env, jobject self, jstring) {
    guarded("_init", [&] {
        // The argument carries nothing the library needs.
        initialiseProcessIdentity();
        setCallbackTarget(env, self);
        startPipeServer();
    });
}

JNIEXPORT void JNICALL TASKBAR_METHOD(_1setOverlay)(JNIEnv* env, jobject, jobject component, jstring library,
                                                    jint iconNumber) {
    guarded("_setOverlay", [&] {
        const auto libraryName = copyJavaString(env, library);
        HWND window = findComponentWindow(env, component);
        setOverlay(window, libraryName, static_cast<int>(iconNumber));
    });
}

JNIEXPORT jint JNICALL TASKBAR_METHOD(_1clearOverlay)(JNIEnv* env, jobject, jobject component) {
    return guarded("_clearOverlay", static_cast<jint>(E_UNEXPECTED), [&] {
        return static_cast<jint>(clearOverlay(findComponentWindow(env, component)));
    });
}

JNIEXPORT void JNICALL TASKBAR_METHOD(_1flashWindow)(JNIEnv* env, jobject, jobject component) {
    guarded("_flashWindow", [&] { flashWindow(findComponentWindow(env, component)); });
}

JNIEXPORT jint JNICALL TASKBAR_METHOD(_1getVersionNumber)(JNIEnv*, jobject) { return 2; }

namespace {

void addToJumpList(JNIEnv* env, jstring label, jstring arguments, jstring category, jstring iconLibrary,
                   jint iconIndex) {
    JumpListEntry entry;
    entry.label = copyJavaString(env, label);  // no label: a separator
    auto argumentsText = copyJavaString(env, arguments);
    auto categoryText = copyJavaString(env, category);
    auto iconLibraryText = copyJavaString(env, iconLibrary);
    if (entry.label && (!argumentsText || !categoryText || !iconLibraryText)) {
        std::printf("Jump list entry refused: arguments, category and icon library must not be null\n");
        return;
    }
    if (entry.label) {
        entry.arguments = std::move(*argumentsText);
        entry.category = std::move(*categoryText);
        entry.iconLibrary = std::move(*iconLibraryText);
        entry.iconIndex = static_cast<int>(iconIndex);
    }
    addJumpListEntry(std::move(entry));
}

}  // namespace

JNIEXPORT void JNICALL TASKBAR_METHOD(_1addToJumpList)(JNIEnv* env, jobject, jstring label, jstring arguments,
                                                       jstring category, jstring iconLibrary, jint iconIndex) {
    guarded("_addToJumpList", [&] { addToJumpList(env, label, arguments, category, iconLibrary, iconIndex); });
}

JNIEXPORT void JNICALL TASKBAR_METHOD(_1addSeparatorToJumpList)(JNIEnv*, jobject) {
    guarded("_addSeparatorToJumpList", [] { addJumpListSeparator(); });
}

JNIEXPORT void JNICALL TASKBAR_METHOD(_1clearJumpList)(JNIEnv*, jobject) {
    guarded("_clearJumpList", [] { clearJumpList(); });
}

JNIEXPORT void JNICALL TASKBAR_METHOD(_1close)(JNIEnv*, jobject) {
    guarded("_close", [] { closeJumpList(); });
}

}  // extern "C"
