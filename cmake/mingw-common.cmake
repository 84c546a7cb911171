# Shared body of the MinGW-w64 toolchain files: set ZEPHRA_MINGW_TRIPLET and
# CMAKE_SYSTEM_PROCESSOR, then include this. The posix thread model gives
# std::thread and std::mutex.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${ZEPHRA_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZEPHRA_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${ZEPHRA_MINGW_TRIPLET}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${ZEPHRA_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Hardening of every object, the voice dependencies included (they are built with these
# files too, and Opus and the jitter buffer read what arrives from the network):
# - stack cookies in every function with an array or an address-taken local. The
#   compiler flags also reach the link, where they pull in GCC's libssp; the links are
#   static (-static), so libssp.a is linked into each file and nothing ships beside it.
#   Its guard is seeded from CryptGenRandom (advapi32, Windows 2000 and later).
# - _FORTIFY_SOURCE=2: MinGW-w64's string.h and stdio.h turn memcpy, strcpy, snprintf
#   and their kin into checked calls wherever the compiler knows the destination's size
#   (only when optimising).
set(ZEPHRA_MINGW_HARDENING_FLAGS "-fstack-protector-strong -D_FORTIFY_SOURCE=2")
# The PE header's promises: relocatable at any address (ASLR) and no code in data pages
# (DEP). GNU ld sets both by default; they are stated so that a change of default
# cannot drop them. The architecture files add their own.
set(ZEPHRA_MINGW_LINK_FLAGS "-Wl,--dynamicbase,--nxcompat")
