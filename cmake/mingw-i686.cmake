# MinGW-w64 i686 cross toolchain: the shipped 32-bit Windows build.
set(ZEPHRA_MINGW_TRIPLET i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
