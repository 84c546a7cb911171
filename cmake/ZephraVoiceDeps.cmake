# Voice dependencies.
#   qel:    Opus (custom modes), the WebRTC audio processing module, SpeexDSP
#   tallix: PortAudio, libresample
# The audio processing module is built from the copy of libwebrtc in Debian's
# firefox-esr source, natively and for Windows; on Windows Opus and SpeexDSP are
# cross-built from their Debian sources too. tools/voice-deps.sh does this once per
# architecture into a cache outside the build trees, and configuring runs it (a no-op
# when the cache has the build). Natively, everything else comes from Debian's -dev
# packages.
#
# Results: ZEPHRA_HAVE_SESSION_DEPS (qel can be built) and ZEPHRA_HAVE_ENGINE_DEPS
# (tallix can be built), and the targets zephra_opus, zephra_speexdsp, zephra_webrtc_apm,
# zephra_portaudio, zephra_resample and zephra_portaudio_converters.

if(ZEPHRA_WIN32)
    if(CMAKE_SIZEOF_VOID_P EQUAL 8)
        set(zephra_deps_arch x86_64-w64-mingw32)
    else()
        set(zephra_deps_arch i686-w64-mingw32)
    endif()
else()
    set(zephra_deps_arch linux-x86_64)
endif()

# tools/voice-deps.sh prints the install prefix as its last line.
set(ZEPHRA_VOICE_DEPS_PREFIX "" CACHE PATH
    "Prefix of a voice-deps build (empty: build or find it with tools/voice-deps.sh)")
set(zephra_deps_prefix "${ZEPHRA_VOICE_DEPS_PREFIX}")
if(zephra_deps_prefix STREQUAL "")
    message(STATUS "Voice dependencies for ${zephra_deps_arch}: tools/voice-deps.sh (a first build takes minutes)")
    execute_process(
        COMMAND bash "${PROJECT_SOURCE_DIR}/tools/voice-deps.sh" ${zephra_deps_arch}
        OUTPUT_VARIABLE deps_out RESULT_VARIABLE deps_rc OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT deps_rc EQUAL 0)
        message(FATAL_ERROR "tools/voice-deps.sh ${zephra_deps_arch} failed (${deps_rc})")
    endif()
    string(REGEX MATCH "[^\n]+$" zephra_deps_prefix "${deps_out}")
endif()
include("${zephra_deps_prefix}/lib/cmake/zvd/voice-deps-targets.cmake")
message(STATUS "Voice dependencies from ${zephra_deps_prefix}")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
    "${zephra_deps_prefix}/lib/cmake/zvd/voice-deps-targets.cmake")

add_library(zephra_webrtc_apm INTERFACE)
target_link_libraries(zephra_webrtc_apm INTERFACE zvd::webrtc_apm)
add_library(zephra_opus INTERFACE)
add_library(zephra_speexdsp INTERFACE)
set(ZEPHRA_HAVE_SESSION_DEPS ON)
set(ZEPHRA_HAVE_ENGINE_DEPS OFF)

add_library(zephra_portaudio INTERFACE)
if(ZEPHRA_WIN32)
    target_link_libraries(zephra_opus INTERFACE zvd::opus)
    target_link_libraries(zephra_speexdsp INTERFACE zvd::speexdsp)
    # PortAudio with the WASAPI and WMME host APIs; its static library carries the
    # sample converters the clips use.
    target_link_libraries(zephra_portaudio INTERFACE zvd::portaudio)
    add_library(zephra_resample INTERFACE)
    target_link_libraries(zephra_resample INTERFACE zvd::resample)
    add_library(zephra_portaudio_converters INTERFACE)
    set(ZEPHRA_HAVE_ENGINE_DEPS ON)
else()
    find_package(PkgConfig REQUIRED)
    pkg_check_modules(OPUS REQUIRED IMPORTED_TARGET opus)
    pkg_check_modules(SPEEXDSP REQUIRED IMPORTED_TARGET speexdsp)
    target_link_libraries(zephra_opus INTERFACE PkgConfig::OPUS)
    target_link_libraries(zephra_speexdsp INTERFACE PkgConfig::SPEEXDSP)

    pkg_check_modules(PORTAUDIO REQUIRED IMPORTED_TARGET portaudio-2.0)
    # JACK only to keep PortAudio's JACK host API out of the engine (engine/portaudio_api.cpp).
    pkg_check_modules(JACK REQUIRED IMPORTED_TARGET jack)
    target_link_libraries(zephra_portaudio INTERFACE PkgConfig::PORTAUDIO PkgConfig::JACK)
    find_path(RESAMPLE_INCLUDE_DIR libresample.h REQUIRED)
    find_library(RESAMPLE_LIBRARY resample REQUIRED)
    add_library(zephra_resample UNKNOWN IMPORTED)
    set_target_properties(zephra_resample PROPERTIES
        IMPORTED_LOCATION "${RESAMPLE_LIBRARY}"
        INTERFACE_INCLUDE_DIRECTORIES "${RESAMPLE_INCLUDE_DIR}")
    # PortAudio's sample converters are not exported by its shared library; its static
    # archive (position-independent in Debian's package) provides them. Only the
    # converter and dither objects are taken from it.
    find_library(PORTAUDIO_STATIC_LIBRARY libportaudio.a REQUIRED)
    add_library(zephra_portaudio_converters STATIC IMPORTED)
    set_target_properties(zephra_portaudio_converters PROPERTIES
        IMPORTED_LOCATION "${PORTAUDIO_STATIC_LIBRARY}")
    set(ZEPHRA_HAVE_ENGINE_DEPS ON)
endif()
