# PortAudio 19.6.0 for Windows with the WASAPI and WMME host APIs only, static. The
# host API table is our own (portaudio_hostapis.c), so that WASAPI comes first and
# becomes the default host API wherever it initialises; MME follows.
set(pa_sources
    src/common/pa_allocation.c
    src/common/pa_converters.c
    src/common/pa_cpuload.c
    src/common/pa_debugprint.c
    src/common/pa_dither.c
    src/common/pa_front.c
    src/common/pa_process.c
    src/common/pa_ringbuffer.c
    src/common/pa_stream.c
    src/common/pa_trace.c
    src/os/win/pa_win_coinitialize.c
    src/os/win/pa_win_util.c
    src/os/win/pa_win_waveformat.c
    src/hostapi/wasapi/pa_win_wasapi.c
    src/hostapi/wmme/pa_win_wmme.c)
list(TRANSFORM pa_sources PREPEND "${portaudio_root}/")
foreach(src IN LISTS pa_sources)
    if(NOT EXISTS "${src}")
        message(FATAL_ERROR "PortAudio source ${src} not found")
    endif()
endforeach()

add_library(portaudio STATIC ${pa_sources} "${CMAKE_CURRENT_SOURCE_DIR}/portaudio_hostapis.c")
target_include_directories(portaudio PRIVATE
    "${portaudio_root}/include" "${portaudio_root}/src/common" "${portaudio_root}/src/os/win")
target_compile_definitions(portaudio PRIVATE PA_USE_WASAPI=1 PA_USE_WMME=1 PA_USE_DS=0
    PA_USE_WDMKS=0 PA_USE_ASIO=0 PA_LITTLE_ENDIAN)
# The WASAPI host API expects the Windows SDK's audio headers; MinGW-w64 has them, but
# they must come in before the file's own fall-back declarations.
set_source_files_properties("${portaudio_root}/src/hostapi/wasapi/pa_win_wasapi.c" PROPERTIES
    COMPILE_OPTIONS "-include;${CMAKE_CURRENT_SOURCE_DIR}/portaudio_wasapi_prelude.h")
target_compile_options(portaudio PRIVATE -O2 -w)
target_link_libraries(portaudio INTERFACE winmm ole32 uuid)
target_include_directories(portaudio INTERFACE $<INSTALL_INTERFACE:include>)
install(FILES "${portaudio_root}/include/portaudio.h" "${portaudio_root}/include/pa_win_wasapi.h"
    "${portaudio_root}/include/pa_win_wmme.h" "${portaudio_root}/include/pa_win_waveformat.h"
    DESTINATION include)
