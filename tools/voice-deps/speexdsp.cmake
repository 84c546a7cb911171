# SpeexDSP 1.2.1, floating point (the session library uses its jitter buffer).
file(GLOB speexdsp_sources "${speexdsp_root}/libspeexdsp/*.c")
list(FILTER speexdsp_sources EXCLUDE REGEX "/test[^/]*\\.c$")
if(NOT speexdsp_sources)
    message(FATAL_ERROR "SpeexDSP sources not found under ${speexdsp_root}")
endif()

set(speexdsp_generated "${CMAKE_CURRENT_BINARY_DIR}/speexdsp-include")
file(WRITE "${speexdsp_generated}/speex/speexdsp_config_types.h"
"#ifndef SPEEXDSP_CONFIG_TYPES_H\n#define SPEEXDSP_CONFIG_TYPES_H\n#include <stdint.h>\n"
"typedef int16_t spx_int16_t;\ntypedef uint16_t spx_uint16_t;\n"
"typedef int32_t spx_int32_t;\ntypedef uint32_t spx_uint32_t;\n#endif\n")

add_library(speexdsp STATIC ${speexdsp_sources})
target_include_directories(speexdsp PRIVATE "${speexdsp_root}/include" "${speexdsp_generated}")
target_compile_definitions(speexdsp PRIVATE FLOATING_POINT USE_SMALLFT EXPORT=)
target_compile_options(speexdsp PRIVATE -O2 -w)

target_include_directories(speexdsp INTERFACE $<INSTALL_INTERFACE:include>)
install(DIRECTORY "${speexdsp_root}/include/speex" DESTINATION include FILES_MATCHING PATTERN "*.h")
install(FILES "${speexdsp_generated}/speex/speexdsp_config_types.h" DESTINATION include/speex)
