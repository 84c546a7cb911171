// Test double of the Java runtime's jawt.dll: JAWT_GetAWT hands out a drawing surface
// whose platform information names a real test window, and records every call.
#define TEST_JAWT_BUILD
#define _JNI_IMPLEMENTATION_
#include "test_jawt.h"

#include <jawt_md.h>

#include <string>

namespace {

HWND g_window = nullptr;
int g_mode = kJawtWorks;
int g_version = 0;
std::string g_calls;
JAWT_Win32DrawingSurfaceInfo g_win32Info{};
JAWT_DrawingSurfaceInfo g_info{};
JAWT_DrawingSurface g_surface{};

jint JNICALL lock(JAWT_DrawingSurface*) {
    g_calls += 'L';
    return g_mode == kJawtLockFails ? JAWT_LOCK_ERROR : 0;
}
JAWT_DrawingSurfaceInfo* JNICALL getInfo(JAWT_DrawingSurface*) {
    g_calls += 'I';
    g_win32Info.hwnd = g_window;
    g_info.platformInfo = &g_win32Info;
    g_info.ds = &g_surface;
    return &g_info;
}
void JNICALL freeInfo(JAWT_DrawingSurfaceInfo*) { g_calls += 'i'; }
void JNICALL unlock(JAWT_DrawingSurface*) { g_calls += 'U'; }

JAWT_DrawingSurface* JNICALL getDrawingSurface(JNIEnv* env, jobject target) {
    g_calls += 'S';
    if (g_mode == kJawtNoDrawingSurface) {
        return nullptr;
    }
    g_surface.env = env;
    g_surface.target = target;
    g_surface.Lock = lock;
    g_surface.GetDrawingSurfaceInfo = getInfo;
    g_surface.FreeDrawingSurfaceInfo = freeInfo;
    g_surface.Unlock = unlock;
    return &g_surface;
}
void JNICALL freeDrawingSurface(JAWT_DrawingSurface*) { g_calls += 'F'; }

}  // namespace

extern "C" JNIEXPORT jboolean JNICALL JAWT_GetAWT(JNIEnv*, JAWT* awt) {
    g_calls += 'A';
    g_version = awt->version;
    if (g_mode == kJawtGetAwtFails) {
        return JNI_FALSE;
    }
    awt->GetDrawingSurface = getDrawingSurface;
    awt->FreeDrawingSurface = freeDrawingSurface;
    return JNI_TRUE;
}

TEST_JAWT_API void testJawtSetWindow(HWND window) { g_window = window; }
TEST_JAWT_API void testJawtSetMode(int mode) { g_mode = mode; }
TEST_JAWT_API const char* testJawtCalls() { return g_calls.c_str(); }
TEST_JAWT_API int testJawtRequestedVersion() { return g_version; }
TEST_JAWT_API void testJawtReset() {
    g_calls.clear();
    g_mode = kJawtWorks;
    g_version = 0;
}
