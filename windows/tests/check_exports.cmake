# Checks a built Vistrel.dll: exactly the entry points the host binds, by their plain
# names, and no import of a MinGW runtime library that would have to ship beside it.
#
#   cmake -DOBJDUMP=<objdump> -DDLL=<Vistrel.dll> -P check_exports.cmake
set(expected GetVersionNumber getWindowsDataSize getOpenWindowsData getActiveWindow
    setForegroundWindow isWindowIconized isWindowRelated getWindowBoundaries getWindowImage
    getApplicationImage getIcon freeImageBuffer)

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
set(sorted_expected ${expected})
list(SORT sorted_expected)
if(NOT exported STREQUAL sorted_expected)
    message(FATAL_ERROR "exports differ.\n  expected: ${sorted_expected}\n  found:    ${exported}")
endif()

string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${dump}")
foreach(import IN LISTS imports)
    if(import MATCHES "libstdc|libgcc|libwinpthread")
        message(FATAL_ERROR "${DLL} needs a MinGW runtime library: ${import}")
    endif()
endforeach()
list(LENGTH exported n)
message(STATUS "${DLL}: ${n} plain exports; imports: ${imports}")
