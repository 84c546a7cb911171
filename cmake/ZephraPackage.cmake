# The release archives, made by CPack from the install rules of cmake/ZephraRelease.cmake:
#   zephra-native-<version>-<platform>.zip|.tar.gz           the stripped files, laid out
#                                                           as the Java host loads them
#   zephra-native-<version>-<platform>-symbols.zip|.tar.gz   their debug files
#   SHA256SUMS                                              the two archives' hashes
# in <build>/package, after a build: `cpack --config <build>/CPackConfig.cmake` (or
# `cpack` in the build directory). <platform> is windows-x86, windows-x64 or
# linux-x86_64.
if(ZEPHRA_WIN32)
    if(CMAKE_SIZEOF_VOID_P EQUAL 8)
        set(ZEPHRA_PACKAGE_PLATFORM windows-x64)
    else()
        set(ZEPHRA_PACKAGE_PLATFORM windows-x86)
    endif()
    set(CPACK_GENERATOR ZIP)
else()
    set(ZEPHRA_PACKAGE_PLATFORM linux-${CMAKE_SYSTEM_PROCESSOR})
    set(CPACK_GENERATOR TGZ)
endif()
set(ZEPHRA_PACKAGE_NAME "zephra-native-${PROJECT_VERSION}-${ZEPHRA_PACKAGE_PLATFORM}")

set(CPACK_PACKAGE_NAME zephra-native)
set(CPACK_PACKAGE_VENDOR Zephra)
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_FILE_NAME "${ZEPHRA_PACKAGE_NAME}")
set(CPACK_PACKAGE_DIRECTORY "${CMAKE_BINARY_DIR}/package")
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime symbols)
set(CPACK_ARCHIVE_RUNTIME_FILE_NAME "${ZEPHRA_PACKAGE_NAME}")
set(CPACK_ARCHIVE_SYMBOLS_FILE_NAME "${ZEPHRA_PACKAGE_NAME}-symbols")
# The archive generator takes every entry's times from SOURCE_DATE_EPOCH; the project
# file sets it to the commit's time.
set(CPACK_PROJECT_CONFIG_FILE "${PROJECT_SOURCE_DIR}/release/cpack_project.cmake")
set(CPACK_POST_BUILD_SCRIPTS "${PROJECT_SOURCE_DIR}/release/sha256sums.cmake")
set(CPACK_ZEPHRA_SOURCE_DIR "${PROJECT_SOURCE_DIR}")
set(CPACK_VERBATIM_VARIABLES ON)
# Packaging takes the files the build made; it builds nothing itself.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
include(CPack)
