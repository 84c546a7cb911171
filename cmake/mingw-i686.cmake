# MinGW-w64 i686 cross toolchain: the shipped 32-bit Windows build.
set(ZEPHRA_MINGW_TRIPLET i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
# Floating point on SSE2, not the x87 unit, in every object (the voice dependencies
# are built with this file too): the same rounding as the x64 and Linux builds, and the
# codec's vector paths. Windows promises only 4-byte stack alignment where it calls in
# (thread entry points, audio callbacks, window procedures, JNI calls from the JVM),
# and SSE spills need 16: -mstackrealign realigns in every function that needs it.
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse -mstackrealign")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse -mstackrealign")
