// Compiled, never run: the library's declarations of its native methods next to the
// header javac generates from the host class. A method whose name, parameters or
// result differ makes the two declarations conflict and the build fail.
#include "com_zephra_client_platform_windows_taskbar_WindowsTaskbarOperationsImpl.h"
#include "taskbar/src/jni_exports.h"

// Taking each address makes the compiler resolve both declarations together.
[[maybe_unused]] static void* const kNativeMethods[] = {
    reinterpret_cast<void*>(&TASKBAR_METHOD(_1init)),
    reinterpret_cast<void*>(&TASKBAR_METHOD(_1setOverlay)),
    reinterpret_cast<void*>(&TASKBAR_METHOD(_1clearOverlay)),
    reinterpret_cast<void*>(&TASKBAR_METHOD(_1flashWindow)),
    reinterpret_cast<void*>(&TASKBAR_METHOD(_1getVersionNumber)),
    reinterpret_cast<void*>(&TASKBAR_METHOD(_1addToJumpList)),
    reinterpret_cast<void*>(&TASKBAR_METHOD(_1addSeparatorToJumpList)),
    reinterpret_cast<void*>(&TASKBAR_METHOD(_1clearJumpList)),
    reinterpret_cast<void*>(&TASKBAR_METHOD(_1close)),
};
