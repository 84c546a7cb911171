# Packs a built tree with cpack and checks what a release hands over:
#   - exactly the two archives and SHA256SUMS, whose lines match the archives' hashes;
#   - the files archive holds exactly FILES (laid out as the Java host loads them),
#     each stripped of its debug information and linked to its debug file;
#   - the symbols archive holds exactly each FILE's .debug, with the debug information.
#
#   cmake -DCPACK=<cpack> -DCONFIG=<build>/CPackConfig.cmake -DPACKAGE_DIR=<dir>
#         -DNAME=<archive name> -DEXT=zip|tar.gz -DFILES=<a;native/b> -DOBJDUMP=<objdump>
#         -P check_package.cmake
cmake_minimum_required(VERSION 3.25)

function(fail)
    string(JOIN "" text ${ARGN})
    message(FATAL_ERROR "${text}")
endfunction()

file(REMOVE "${PACKAGE_DIR}/SHA256SUMS" "${PACKAGE_DIR}/${NAME}.${EXT}" "${PACKAGE_DIR}/${NAME}-symbols.${EXT}")
execute_process(COMMAND "${CPACK}" --config "${CONFIG}" RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT rc EQUAL 0)
    fail("cpack failed (${rc}):\n${out}")
endif()

# SHA256SUMS: one line an archive, in name order, each hash right.
set(archives "${NAME}-symbols.${EXT}" "${NAME}.${EXT}")
list(SORT archives)
set(expected_sums "")
foreach(archive IN LISTS archives)
    if(NOT EXISTS "${PACKAGE_DIR}/${archive}")
        fail("cpack made no ${PACKAGE_DIR}/${archive}")
    endif()
    file(SHA256 "${PACKAGE_DIR}/${archive}" hash)
    string(APPEND expected_sums "${hash}  ${archive}\n")
endforeach()
file(READ "${PACKAGE_DIR}/SHA256SUMS" sums)
if(NOT sums STREQUAL expected_sums)
    fail("SHA256SUMS reads\n${sums}but the archives are\n${expected_sums}")
endif()

# The archives' entries, unpacked.
set(work "${PACKAGE_DIR}/check")
file(REMOVE_RECURSE "${work}")
file(MAKE_DIRECTORY "${work}/files" "${work}/symbols")
foreach(part files symbols)
    set(archive "${PACKAGE_DIR}/${NAME}.${EXT}")
    if(part STREQUAL "symbols")
        set(archive "${PACKAGE_DIR}/${NAME}-symbols.${EXT}")
    endif()
    file(ARCHIVE_EXTRACT INPUT "${archive}" DESTINATION "${work}/${part}")
    file(GLOB_RECURSE found RELATIVE "${work}/${part}" "${work}/${part}/*")
    list(SORT found)
    set(want ${FILES})
    if(part STREQUAL "symbols")
        list(TRANSFORM want APPEND .debug)
    endif()
    list(SORT want)
    if(NOT found STREQUAL want)
        fail("${archive} holds\n  ${found}\nbut a release is\n  ${want}")
    endif()
endforeach()

# Stripped files with a debug link; debug information in the symbols.
foreach(file IN LISTS FILES)
    execute_process(COMMAND "${OBJDUMP}" -h "${work}/files/${file}" OUTPUT_VARIABLE sections RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
        fail("${OBJDUMP} -h ${file} failed")
    endif()
    if(sections MATCHES "\\.debug_")
        fail("${file} in the archive still has debug sections")
    endif()
    if(NOT sections MATCHES "\\.gnu_debuglink")
        fail("${file} in the archive has no .gnu_debuglink")
    endif()
    execute_process(COMMAND "${OBJDUMP}" -h "${work}/symbols/${file}.debug" OUTPUT_VARIABLE sections RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0 OR NOT sections MATCHES "\\.debug_info" OR NOT sections MATCHES "\\.debug_line")
        fail("${file}.debug has no .debug_info and .debug_line")
    endif()
endforeach()
file(REMOVE_RECURSE "${work}")
message(STATUS "${NAME}.${EXT}: ${FILES}; symbols and SHA256SUMS match")
