# Opus 1.3.1, floating point, with the custom modes the session library's codec uses.
# The source lists are the tree's own make fragments. On x86 its SIMD code is built as
# its own build does it: SSE and SSE2 are presumed (every x86 target here compiles for
# SSE2), the SSE4.1 variants are chosen at run time by CPU detection.
function(zvd_mk_sources out file)
    file(STRINGS "${opus_root}/${file}" lines)
    set(result)
    set(collecting OFF)
    foreach(line IN LISTS lines)
        if(line MATCHES "^([A-Z0-9_]+) =")
            set(collecting OFF)
            if(CMAKE_MATCH_1 IN_LIST ARGN)
                set(collecting ON)
            endif()
        endif()
        if(collecting)
            string(REGEX MATCHALL "[A-Za-z0-9_/]+\\.c" found "${line}")
            foreach(src IN LISTS found)
                list(APPEND result "${opus_root}/${src}")
            endforeach()
            if(NOT line MATCHES "\\\\$")
                set(collecting OFF)
            endif()
        endif()
    endforeach()
    set(${out} ${result} PARENT_SCOPE)
endfunction()

zvd_mk_sources(celt_sources celt_sources.mk CELT_SOURCES)
zvd_mk_sources(silk_sources silk_sources.mk SILK_SOURCES SILK_SOURCES_FLOAT)
zvd_mk_sources(opus_sources opus_sources.mk OPUS_SOURCES OPUS_SOURCES_FLOAT)
if(NOT celt_sources OR NOT silk_sources OR NOT opus_sources)
    message(FATAL_ERROR "Opus source lists not found under ${opus_root}")
endif()

set(opus_simd_sources)
set(opus_simd_definitions)
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86|AMD64|x86_64)$")
    zvd_mk_sources(opus_sse celt_sources.mk CELT_SOURCES_SSE CELT_SOURCES_SSE2)
    zvd_mk_sources(opus_sse4_1 celt_sources.mk CELT_SOURCES_SSE4_1)
    zvd_mk_sources(silk_sse4_1 silk_sources.mk SILK_SOURCES_SSE4_1)
    if(NOT opus_sse OR NOT opus_sse4_1 OR NOT silk_sse4_1)
        message(FATAL_ERROR "Opus x86 source lists not found under ${opus_root}")
    endif()
    list(APPEND opus_sse4_1 ${silk_sse4_1})
    set_source_files_properties(${opus_sse4_1} PROPERTIES COMPILE_OPTIONS "-msse4.1")
    set(opus_simd_sources ${opus_sse} ${opus_sse4_1})
    set(opus_simd_definitions OPUS_HAVE_RTCD CPU_INFO_BY_C
        OPUS_X86_MAY_HAVE_SSE OPUS_X86_PRESUME_SSE
        OPUS_X86_MAY_HAVE_SSE2 OPUS_X86_PRESUME_SSE2
        OPUS_X86_MAY_HAVE_SSE4_1)
endif()

add_library(opus STATIC ${celt_sources} ${silk_sources} ${opus_sources} ${opus_simd_sources})
target_include_directories(opus PRIVATE
    "${opus_root}/include" "${opus_root}/celt" "${opus_root}/silk" "${opus_root}/silk/float"
    "${opus_root}")
file(STRINGS "${opus_root}/package_version" opus_version REGEX "^PACKAGE_VERSION=")
string(REGEX REPLACE "^PACKAGE_VERSION=\"?([^\"]*)\"?$" "\\1" opus_version "${opus_version}")
target_compile_definitions(opus PRIVATE OPUS_BUILD VAR_ARRAYS HAVE_LRINTF HAVE_LRINT
    PACKAGE_VERSION="${opus_version}" ${opus_simd_definitions})
target_compile_definitions(opus PUBLIC CUSTOM_MODES)
target_compile_options(opus PRIVATE -O2 -fno-strict-aliasing -w)
target_include_directories(opus INTERFACE $<INSTALL_INTERFACE:include>)
install(DIRECTORY "${opus_root}/include/" DESTINATION include/opus FILES_MATCHING PATTERN "*.h")
