# MinGW-w64 x86_64 cross toolchain. A test build: the target is 32-bit Windows, but
# this machine's Wine runs only 64-bit programs (see README).
set(ZEPHRA_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
