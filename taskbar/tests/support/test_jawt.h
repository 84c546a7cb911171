// Controls of the test double of the Java runtime's jawt.dll (Windows tests only).
#pragma once

#include <windows.h>

#ifdef TEST_JAWT_BUILD
#define TEST_JAWT_API extern "C" __declspec(dllexport)
#else
#define TEST_JAWT_API extern "C" __declspec(dllimport)
#endif

// What JAWT_GetAWT and the drawing surface do on the next lookups.
enum TestJawtMode {
    kJawtWorks = 0,
    kJawtGetAwtFails = 1,
    kJawtNoDrawingSurface = 2,
    kJawtLockFails = 3,
};

// The window every component is drawn in, and how the next lookups behave.
TEST_JAWT_API void testJawtSetWindow(HWND window);
TEST_JAWT_API void testJawtSetMode(int mode);
// The calls made since the last reset, one letter each: A GetAWT, S GetDrawingSurface,
// L Lock, I GetDrawingSurfaceInfo, i FreeDrawingSurfaceInfo, U Unlock,
// F FreeDrawingSurface. The version the last GetAWT asked for.
TEST_JAWT_API const char* testJawtCalls();
TEST_JAWT_API int testJawtRequestedVersion();
TEST_JAWT_API void testJawtReset();
