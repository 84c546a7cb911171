# The release files: what a shipped file carries, and how it is split for the archives.
#
# Every deliverable (zephra_stage) gets, on Windows, a version resource made from the
# project's version. After each link, the file is split in two beside the stage:
#   <build>/ship/files/[native/]<file>            stripped, with a .gnu_debuglink
#   <build>/ship/symbols/[native/]<file>.debug    its debug information and symbols
# and install rules put them into the components "runtime" and "symbols", from which
# CPack makes the archives (cmake/ZephraPackage.cmake). The stage keeps the full files
# that the tests and the debugger use.
#
# The same commit builds the same bytes in any directory at any time: no build paths
# (the source and build directories are mapped to /zephra and /zephra/build), no time
# stamp in PE headers, and the commit's time on every archive entry.

set(ZEPHRA_RELEASE_DIR "${CMAKE_BINARY_DIR}/ship")
if(ZEPHRA_WIN32)
    enable_language(RC)
endif()

if(CMAKE_C_COMPILER_ID MATCHES "GNU|Clang")
    # Debug information and __FILE__ name the source tree /zephra and the build tree
    # /zephra/build, wherever they are (gdb: set substitute-path /zephra <tree>). The
    # later map wins for the build directory, which lies inside the source tree.
    add_compile_options("-ffile-prefix-map=${PROJECT_SOURCE_DIR}=/zephra"
                        "-ffile-prefix-map=${CMAKE_BINARY_DIR}=/zephra/build")
endif()
if(ZEPHRA_WIN32)
    add_link_options(LINKER:--no-insert-timestamp)
endif()

# The version header that the libraries report their version from.
configure_file("${PROJECT_SOURCE_DIR}/release/version.h.in"
    "${CMAKE_BINARY_DIR}/generated/zephra_version.h" @ONLY)
add_library(zephra_version INTERFACE)
target_include_directories(zephra_version INTERFACE "${CMAKE_BINARY_DIR}/generated")

# zephra_version_resource(<target> <description>): a VERSIONINFO resource in the
# target's file: FileVersion and ProductVersion (the project's), ProductName "Zephra",
# FileDescription, InternalName and OriginalFilename.
function(zephra_version_resource target description)
    get_target_property(type ${target} TYPE)
    get_target_property(prefix ${target} PREFIX)
    if(NOT prefix)
        set(prefix "")
    endif()
    if(type STREQUAL "EXECUTABLE")
        set(ZEPHRA_RC_FILETYPE VFT_APP)
        set(suffix ".exe")
    else()
        set(ZEPHRA_RC_FILETYPE VFT_DLL)
        set(suffix ".dll")
    endif()
    set(ZEPHRA_RC_DESCRIPTION "${description}")
    set(ZEPHRA_RC_INTERNAL_NAME "${prefix}${target}")
    set(ZEPHRA_RC_FILENAME "${prefix}${target}${suffix}")
    set(rc "${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc")
    configure_file("${PROJECT_SOURCE_DIR}/release/version.rc.in" "${rc}" @ONLY)
    target_sources(${target} PRIVATE "${rc}")
endfunction()

# zephra_release_file(<target> <subdirectory>): split the target's file after each link
# into its stripped copy and its debug file, and install both.
function(zephra_release_file target subdir)
    set(files "${ZEPHRA_RELEASE_DIR}/files")
    set(symbols "${ZEPHRA_RELEASE_DIR}/symbols")
    if(NOT subdir STREQUAL "")
        string(APPEND files "/${subdir}")
        string(APPEND symbols "/${subdir}")
    endif()
    file(MAKE_DIRECTORY "${files}" "${symbols}")
    set(name "$<TARGET_FILE_NAME:${target}>")
    # The debug link names the debug file and carries its CRC, so objcopy reads it from
    # the symbols directory, where the debug file lies under its own name.
    # objcopy stamps a PE file it writes with the time, or with SOURCE_DATE_EPOCH when it
    # is set: 0, as the linker leaves it (--no-insert-timestamp).
    set(objcopy "${CMAKE_COMMAND}" -E env SOURCE_DATE_EPOCH=0 "${CMAKE_OBJCOPY}")
    add_custom_command(TARGET ${target} POST_BUILD
        COMMAND ${objcopy} --only-keep-debug "$<TARGET_FILE:${target}>" "${symbols}/${name}.debug"
        COMMAND ${objcopy} --strip-unneeded "--add-gnu-debuglink=${name}.debug"
                "$<TARGET_FILE:${target}>" "${files}/${name}"
        WORKING_DIRECTORY "${symbols}"
        COMMENT "Splitting ${target} into ship/files and ship/symbols"
        VERBATIM)
    if(subdir STREQUAL "")
        set(destination .)
    else()
        set(destination "${subdir}")
    endif()
    install(FILES "${files}/$<TARGET_FILE_NAME:${target}>" DESTINATION "${destination}"
        COMPONENT runtime)
    install(FILES "${symbols}/$<TARGET_FILE_NAME:${target}>.debug" DESTINATION "${destination}"
        COMPONENT symbols)
    set_property(GLOBAL APPEND PROPERTY ZEPHRA_RELEASE_FILES "${destination}/$<TARGET_FILE_NAME:${target}>")
endfunction()
