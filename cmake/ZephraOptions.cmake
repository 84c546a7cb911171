# Compiler settings shared by every target of the project.

set(ZEPHRA_WIN32 ${WIN32})

add_library(zephra_warnings INTERFACE)
if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
    target_compile_options(zephra_warnings INTERFACE -Wall -Wextra
        $<$<COMPILE_LANGUAGE:CXX>:-Wnon-virtual-dtor>)
    if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
        target_compile_options(zephra_warnings INTERFACE -Wshadow=local)
    else()
        target_compile_options(zephra_warnings INTERFACE -Wshadow-uncaptured-local)
    endif()
    if(ZEPHRA_WERROR)
        target_compile_options(zephra_warnings INTERFACE -Werror)
    endif()
endif()

if(ZEPHRA_SANITIZER STREQUAL "address")
    add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    add_link_options(-fsanitize=address,undefined)
elseif(ZEPHRA_SANITIZER STREQUAL "thread")
    add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
    add_link_options(-fsanitize=thread)
elseif(NOT ZEPHRA_SANITIZER STREQUAL "")
    message(FATAL_ERROR "ZEPHRA_SANITIZER must be empty, address or thread")
endif()

if(ZEPHRA_FUZZ)
    # Coverage instrumentation in every library, so that libFuzzer is guided by the code
    # under test and not only by the fuzz target's own file.
    add_compile_options(-fsanitize=fuzzer-no-link)
endif()

if(ZEPHRA_WIN32)
    # Windows XP or later, Unicode APIs; every program and library carries its own
    # runtime so nothing from MinGW has to be shipped beside it.
    add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX UNICODE _UNICODE _WIN32_WINNT=0x0601)
    add_link_options(-static -static-libgcc -static-libstdc++)
endif()
