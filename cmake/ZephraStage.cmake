# The stage directory mirrors what the Java host loads: the libraries and programs
# in <build>/stage and the session library in <build>/stage/native.

set(ZEPHRA_STAGE_DIR "${CMAKE_BINARY_DIR}/stage")
set(ZEPHRA_STAGE_NATIVE_DIR "${ZEPHRA_STAGE_DIR}/native")
file(MAKE_DIRECTORY "${ZEPHRA_STAGE_NATIVE_DIR}")

# zephra_stage(<target> [NATIVE] DESCRIPTION <text>): put a deliverable's output into
# the stage, give it its version resource (DESCRIPTION is its FileDescription) and make
# its release files (cmake/ZephraRelease.cmake).
function(zephra_stage target)
    cmake_parse_arguments(ARG "NATIVE" "DESCRIPTION" "" ${ARGN})
    if(NOT ARG_DESCRIPTION)
        message(FATAL_ERROR "zephra_stage(${target}): DESCRIPTION is missing")
    endif()
    set(dir "${ZEPHRA_STAGE_DIR}")
    set(subdir "")
    if(ARG_NATIVE)
        set(dir "${ZEPHRA_STAGE_NATIVE_DIR}")
        set(subdir native)
    endif()
    set_target_properties(${target} PROPERTIES
        RUNTIME_OUTPUT_DIRECTORY "${dir}"
        LIBRARY_OUTPUT_DIRECTORY "${dir}"
        ARCHIVE_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/lib")
    if(ZEPHRA_WIN32)
        # No "lib" prefix on Windows DLLs: the host loads qel.dll, Vistrel.dll, ...
        set_target_properties(${target} PROPERTIES PREFIX "")
        zephra_version_resource(${target} "${ARG_DESCRIPTION}")
        target_sources(${target} PRIVATE $<TARGET_OBJECTS:zephra_tick_count64>)
    endif()
    # Sanitizer and fuzzing builds are never shipped.
    if(ZEPHRA_SANITIZER STREQUAL "" AND NOT ZEPHRA_FUZZ)
        zephra_release_file(${target} "${subdir}")
    endif()
    set_property(GLOBAL APPEND PROPERTY ZEPHRA_DELIVERABLES ${target})
endfunction()

# zephra_left_out(<name> <reason>): record a deliverable that this build cannot make.
function(zephra_left_out name reason)
    set_property(GLOBAL APPEND PROPERTY ZEPHRA_LEFT_OUT "${name}: ${reason}")
endfunction()

function(zephra_print_summary)
    get_property(built GLOBAL PROPERTY ZEPHRA_DELIVERABLES)
    get_property(left GLOBAL PROPERTY ZEPHRA_LEFT_OUT)
    message(STATUS "Deliverables in this build: ${built}")
    foreach(item IN LISTS left)
        message(STATUS "Left out of this build: ${item}")
    endforeach()
endfunction()
