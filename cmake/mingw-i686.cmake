# MinGW-w64 i686 cross toolchain: the shipped 32-bit Windows build.
set(ZEPHRA_MINGW_TRIPLET i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
# Floating point on SSE2, not the x87 unit, in every object (the voice dependencies
# are built with this file too): the same rounding as the x64 and Linux builds, and the
# codec's vector paths. Windows promises only 4-byte stack alignment where it calls in
# (thread entry points, audio callbacks, window procedures, JNI calls from the JVM),
# and SSE spills need 16: -mstackrealign realigns in every function that needs it.
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse -mstackrealign ${ZEPHRA_MINGW_HARDENING_FLAGS}")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse -mstackrealign ${ZEPHRA_MINGW_HARDENING_FLAGS}")
# NO_SEH: GCC's 32-bit code unwinds with DWARF tables and registers no structured
# exception handler on the stack, so the image has none for Windows to validate; the
# flag says so, and Windows then refuses any handler that claims to be in the image.
set(zephra_link "${ZEPHRA_MINGW_LINK_FLAGS} -Wl,--no-seh")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${zephra_link}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${zephra_link}")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${zephra_link}")
