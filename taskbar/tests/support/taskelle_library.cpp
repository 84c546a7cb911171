#include "taskelle_library.h"

#include "tests/support/test_jvm.h"

namespace taskbar_test {
namespace {

template <typename F>
void resolve(HMODULE module, const char* name, F& function) {
    function = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

#define METHOD_NAME(name) "Java_com_zephra_client_platform_windows_taskbar_WindowsTaskbarOperationsImpl__1" name

TaskelleLibrary load() {
    TaskelleLibrary lib;
    lib.module = LoadLibraryW(L"Taskelle.dll");
    if (lib.module == nullptr) {
        return lib;
    }
    resolve(lib.module, "JNI_OnLoad", lib.onLoad);
    resolve(lib.module, METHOD_NAME("init"), lib.init);
    resolve(lib.module, METHOD_NAME("setOverlay"), lib.setOverlay);
    resolve(lib.module, METHOD_NAME("clearOverlay"), lib.clearOverlay);
    resolve(lib.module, METHOD_NAME("flashWindow"), lib.flashWindow);
    resolve(lib.module, METHOD_NAME("getVersionNumber"), lib.getVersionNumber);
    resolve(lib.module, METHOD_NAME("addToJumpList"), lib.addToJumpList);
    resolve(lib.module, METHOD_NAME("addSeparatorToJumpList"), lib.addSeparatorToJumpList);
    resolve(lib.module, METHOD_NAME("clearJumpList"), lib.clearJumpList);
    resolve(lib.module, METHOD_NAME("close"), lib.close);
    if (lib.onLoad != nullptr) {
        // The virtual machine runs the load hook on a thread of its own that is
        // attached; here that is the test's main thread.
        testJvm().env();
        lib.onLoadResult = lib.onLoad(testJvm().vm(), nullptr);
    }
    return lib;
}

}  // namespace

bool TaskelleLibrary::complete() const {
    return module && onLoad && init && setOverlay && clearOverlay && flashWindow && getVersionNumber &&
           addToJumpList && addSeparatorToJumpList && clearJumpList && close;
}

TaskelleLibrary& taskelle() {
    static TaskelleLibrary lib = load();
    return lib;
}

}  // namespace taskbar_test
