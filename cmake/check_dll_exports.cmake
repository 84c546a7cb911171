# Checks a built DLL: it exports exactly the listed entry points by their plain names,
# and imports nothing but Windows system libraries (no MinGW runtime DLL, no library
# that would have to ship beside it).
#
#   cmake -DOBJDUMP=<objdump> -DDLL=<file.dll> -DNAMES=<names or .def file>
#         [-DFORBIDDEN=<dll>;...] -P check_dll_exports.cmake
#
# FORBIDDEN names libraries the DLL must load at run time rather than import.
#
# NAMES holds one name a line; a module-definition file's LIBRARY and EXPORTS lines
# are passed over.
cmake_minimum_required(VERSION 3.25)
file(STRINGS "${NAMES}" expected REGEX "^[ \t]*[A-Za-z_][A-Za-z0-9_@]*[ \t]*$")
list(TRANSFORM expected STRIP)
list(REMOVE_ITEM expected EXPORTS)
list(FILTER expected EXCLUDE REGEX "^LIBRARY")

execute_process(COMMAND "${OBJDUMP}" -p "${DLL}" OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${OBJDUMP} -p ${DLL} failed (${rc})")
endif()

# The name table lists "[   n] name" lines up to the next blank line.
string(FIND "${dump}" "[Ordinal/Name Pointer] Table" at)
if(at EQUAL -1)
    message(FATAL_ERROR "no export name table in ${DLL}")
endif()
string(SUBSTRING "${dump}" ${at} -1 table)
string(FIND "${table}" "\n\n" end)
string(SUBSTRING "${table}" 0 ${end} table)
string(REGEX MATCHALL "\\[ *[0-9]+\\] [^\n]+" lines "${table}")
set(exported "")
foreach(line IN LISTS lines)
    string(REGEX REPLACE "^\\[ *[0-9]+\\] " "" name "${line}")
    list(APPEND exported "${name}")
endforeach()

list(SORT exported)
list(SORT expected)
if(NOT exported STREQUAL expected)
    set(missing ${expected})
    list(REMOVE_ITEM missing ${exported})
    set(extra ${exported})
    list(REMOVE_ITEM extra ${expected})
    message(FATAL_ERROR "exports of ${DLL} differ from ${NAMES}.\n  missing: ${missing}\n  unexpected: ${extra}")
endif()

set(system_dlls kernel32 user32 gdi32 advapi32 shell32 ole32 oleaut32 psapi msvcrt ws2_32
    winmm comctl32 shlwapi propsys version)
string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${dump}")
string(TOLOWER "${FORBIDDEN}" forbidden)
foreach(import IN LISTS imports)
    string(REGEX REPLACE "^DLL Name: " "" dll "${import}")
    string(TOLOWER "${dll}" dll)
    if(dll IN_LIST forbidden)
        message(FATAL_ERROR "${DLL} imports ${dll}; it must load it at run time")
    endif()
    string(REGEX REPLACE "\\.dll$" "" base "${dll}")
    if(NOT base IN_LIST system_dlls AND NOT base MATCHES "^api-ms-win-")
        message(FATAL_ERROR "${DLL} imports ${dll}, which is not a Windows system library")
    endif()
endforeach()
list(LENGTH exported n)
message(STATUS "${DLL}: ${n} plain exports; imports: ${imports}")
