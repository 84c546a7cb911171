# Test helpers: one GoogleTest program per module, libFuzzer targets, JUnit runs.
#
# GoogleTest is built from Debian's source package (/usr/src/googletest) so that the
# same sources serve the native, sanitizer and MinGW builds.

set(ZEPHRA_GTEST_SOURCE_DIR "/usr/src/googletest" CACHE PATH "GoogleTest source tree")
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
add_subdirectory("${ZEPHRA_GTEST_SOURCE_DIR}" "${CMAKE_BINARY_DIR}/_deps/googletest" EXCLUDE_FROM_ALL SYSTEM)

set(ZEPHRA_TEST_DIR "${CMAKE_BINARY_DIR}/tests")

if(ZEPHRA_WIN32)
    # Cross-built tests run under Wine with a private prefix inside the build tree and
    # an Xvfb display that the test run starts (fixture "wine") and stops itself.
    find_program(ZEPHRA_XVFB Xvfb REQUIRED)
    if(CMAKE_SIZEOF_VOID_P EQUAL 8)
        set(ZEPHRA_WINE_LOADER "/usr/lib/wine/wine64" CACHE FILEPATH "Wine loader for 64-bit programs")
        set(ZEPHRA_WINE_ARCH win64)
    else()
        set(ZEPHRA_WINE_LOADER "/usr/lib/wine/wine" CACHE FILEPATH "Wine loader for 32-bit programs")
        set(ZEPHRA_WINE_ARCH win32)
    endif()
    # Some kernels refuse 32-bit ELF programs (IA-32 emulation switched off), and the
    # 32-bit Wine loader is one. Then this build's tests are registered but skipped
    # (exit code 77), and the windows-x64 preset runs the same tests under 64-bit Wine.
    execute_process(COMMAND "${ZEPHRA_WINE_LOADER}" --version
        RESULT_VARIABLE wine_rc OUTPUT_VARIABLE wine_version ERROR_VARIABLE wine_error
        OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(wine_rc EQUAL 0)
        set(ZEPHRA_WINE_USABLE 1)
        message(STATUS "Windows tests run under ${wine_version} (${ZEPHRA_WINE_LOADER}, ${ZEPHRA_WINE_ARCH})")
    else()
        set(ZEPHRA_WINE_USABLE 0)
        message(STATUS "Windows tests of this build are SKIPPED: this machine cannot start "
            "${ZEPHRA_WINE_LOADER} (${wine_rc}). The windows-x64 preset runs them under 64-bit Wine.")
    endif()
    set(ZEPHRA_WINE_DIR "${CMAKE_BINARY_DIR}/wine")
    configure_file("${CMAKE_CURRENT_LIST_DIR}/wine-run.sh.in" "${CMAKE_BINARY_DIR}/wine-run.sh"
        @ONLY FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
        WORLD_READ WORLD_EXECUTE)
    set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_BINARY_DIR}/wine-run.sh" CACHE FILEPATH "" FORCE)
    if(ZEPHRA_WINE_USABLE)
        add_test(NAME wine.start
            COMMAND sh "${CMAKE_CURRENT_LIST_DIR}/wine-env.sh" start "${ZEPHRA_WINE_DIR}"
                    "${ZEPHRA_WINE_LOADER}" ${ZEPHRA_WINE_ARCH})
        add_test(NAME wine.stop
            COMMAND sh "${CMAKE_CURRENT_LIST_DIR}/wine-env.sh" stop "${ZEPHRA_WINE_DIR}"
                    "${ZEPHRA_WINE_LOADER}" ${ZEPHRA_WINE_ARCH})
        set_tests_properties(wine.start PROPERTIES FIXTURES_SETUP wine TIMEOUT 180)
        set_tests_properties(wine.stop PROPERTIES FIXTURES_CLEANUP wine)
    endif()
endif()

# zephra_wine_test_properties(<test>): a test that runs under Wine needs the display
# and prefix fixture, and is skipped where Wine cannot run.
function(zephra_wine_test_properties test)
    if(ZEPHRA_WIN32)
        set_tests_properties(${test} PROPERTIES SKIP_RETURN_CODE 77 RESOURCE_LOCK wine-display)
        if(ZEPHRA_WINE_USABLE)
            set_tests_properties(${test} PROPERTIES FIXTURES_REQUIRED wine)
        endif()
    endif()
endfunction()

# zephra_add_gtest(<name> SOURCES ... [LIBS ...] [LABELS ...] [TIMEOUT s] [WORKING_DIRECTORY d])
# Builds one test program linked with gtest_main and registers it with CTest. Under
# the Windows build it runs under Wine, after the wine fixture.
function(zephra_add_gtest name)
    cmake_parse_arguments(ARG "" "TIMEOUT;WORKING_DIRECTORY" "SOURCES;LIBS;LABELS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gmock GTest::gtest_main zephra_warnings)
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${ZEPHRA_TEST_DIR}")
    if(NOT ARG_WORKING_DIRECTORY)
        set(ARG_WORKING_DIRECTORY "${ZEPHRA_TEST_DIR}")
    endif()
    add_test(NAME ${name} COMMAND ${name} --gtest_color=no WORKING_DIRECTORY "${ARG_WORKING_DIRECTORY}")
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 300)
    endif()
    set_tests_properties(${name} PROPERTIES TIMEOUT ${ARG_TIMEOUT} LABELS "unit;${ARG_LABELS}")
    zephra_wine_test_properties(${name})
endfunction()

# zephra_add_fuzzer(<name> SOURCES ... [LIBS ...] [CORPUS dir] [SECONDS n])
# With ZEPHRA_FUZZ (clang) the target is a libFuzzer program and CTest runs it for a
# short bounded time. Otherwise it links a small replay driver that feeds the corpus
# and a fixed number of seeded random inputs, so every build exercises the target.
function(zephra_add_fuzzer name)
    cmake_parse_arguments(ARG "" "CORPUS;SECONDS" "SOURCES;LIBS" ${ARGN})
    if(NOT ARG_SECONDS)
        set(ARG_SECONDS 20)
    endif()
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} zephra_warnings)
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${ZEPHRA_TEST_DIR}")
    set(corpus_args "")
    if(ARG_CORPUS)
        set(corpus_args "${ARG_CORPUS}")
    endif()
    if(ZEPHRA_FUZZ)
        target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
        target_link_options(${name} PRIVATE -fsanitize=fuzzer)
        set(work "${CMAKE_BINARY_DIR}/fuzz/${name}")
        file(MAKE_DIRECTORY "${work}")
        add_test(NAME ${name}
            COMMAND ${name} -max_total_time=${ARG_SECONDS} -print_final_stats=1 "${work}" ${corpus_args})
        set_tests_properties(${name} PROPERTIES TIMEOUT ${ARG_SECONDS}0 LABELS fuzz)
    else()
        target_sources(${name} PRIVATE "${PROJECT_SOURCE_DIR}/tests/fuzz_replay_main.cpp")
        add_test(NAME ${name} COMMAND ${name} ${corpus_args})
        set_tests_properties(${name} PROPERTIES TIMEOUT 300 LABELS "unit;fuzz")
        zephra_wine_test_properties(${name})
    endif()
endfunction()
