# MinGW-w64 x86_64 cross toolchain. A test build: the target is 32-bit Windows, but
# this machine's Wine runs only 64-bit programs (see README).
set(ZEPHRA_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
set(CMAKE_C_FLAGS_INIT "${ZEPHRA_MINGW_HARDENING_FLAGS}")
set(CMAKE_CXX_FLAGS_INIT "${ZEPHRA_MINGW_HARDENING_FLAGS}")
# HIGH_ENTROPY_VA: ASLR may place the image anywhere in the 64-bit address space, not
# only below 4 GB. (Exceptions on x64 are table-based, so NO_SEH has no meaning here.)
set(zephra_link "${ZEPHRA_MINGW_LINK_FLAGS} -Wl,--high-entropy-va")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${zephra_link}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${zephra_link}")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${zephra_link}")
