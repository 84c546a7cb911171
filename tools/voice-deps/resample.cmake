# libresample 0.1.3, static (the engine converts sound clips to the device rate).
set(resample_sources src/filterkit.c src/resample.c src/resamplesubs.c)
list(TRANSFORM resample_sources PREPEND "${resample_root}/")
set(resample_generated "${CMAKE_CURRENT_BINARY_DIR}/resample-include")
file(WRITE "${resample_generated}/config.h" "#define HAVE_INTTYPES_H 1\n")

add_library(resample STATIC ${resample_sources})
target_include_directories(resample PRIVATE "${resample_generated}")
target_compile_options(resample PRIVATE -O2 -w)
target_include_directories(resample INTERFACE $<INSTALL_INTERFACE:include>)
install(FILES "${resample_root}/include/libresample.h" DESTINATION include)
