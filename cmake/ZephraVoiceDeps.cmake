# Voice dependencies, all from Debian's packages on Linux:
#   qel:    Opus (custom modes), WebRTC audio processing 0.3, SpeexDSP
#   tallix: PortAudio, libresample
# The Windows build needs them cross-built; the WebRTC audio processing source cannot
# be had from this machine's registries, so qel.dll and tallix.dll are left out there
# (the session code that needs none of them is still built and tested).

set(ZEPHRA_HAVE_VOICE_DEPS OFF)
if(NOT ZEPHRA_WIN32)
    find_package(PkgConfig REQUIRED)
    pkg_check_modules(OPUS REQUIRED IMPORTED_TARGET opus)
    pkg_check_modules(WEBRTC_APM REQUIRED IMPORTED_TARGET webrtc-audio-processing)
    pkg_check_modules(SPEEXDSP REQUIRED IMPORTED_TARGET speexdsp)
    pkg_check_modules(PORTAUDIO REQUIRED IMPORTED_TARGET portaudio-2.0)
    # Only to keep PortAudio's JACK host API out of the engine (engine/portaudio_api.cpp).
    pkg_check_modules(JACK REQUIRED IMPORTED_TARGET jack)
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
    set(ZEPHRA_HAVE_VOICE_DEPS ON)
else()
    set(reason "the WebRTC audio processing module 0.3 cannot be cross-built here (its source is not available from the package registry)")
    message(STATUS "Voice libraries left out of the Windows build: ${reason}")
    zephra_left_out(qel.dll "${reason}")
    zephra_left_out(tallix.dll "needs qel.dll and Windows builds of PortAudio and libresample")
endif()
