# Checks that each shipped file imports exactly the functions of its committed list,
# which is what keeps the Windows versions stated in the README true: a new import
# fails here until it has been looked at and the list updated.
#
#   cmake -DOBJDUMP=<objdump> -DLISTS=<dir of lists> -DFILES=<file;...> [-DUPDATE=ON]
#         -P check_imports.cmake
#
# A list is <LISTS>/<file name>.txt with one "DLL function" line an import and a
# "header SubsystemVersion N.N" line for the PE header's Windows version, sorted,
# after "#" lines (without ";") that say which Windows the imports need and why. UPDATE=ON writes the
# import lines from the files instead of checking them, keeping the "#" lines.
cmake_minimum_required(VERSION 3.25)

set(failures "")
foreach(file IN LISTS FILES)
    execute_process(COMMAND "${OBJDUMP}" -p "${file}" OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "${OBJDUMP} -p ${file} failed (${rc})")
    endif()
    # Import tables: a "DLL Name: X" line, then "vma  hint  name" lines up to a blank line.
    string(REPLACE ";" "\\;" dump "${dump}")
    string(REPLACE "\n" ";" lines "${dump}")
    set(imports "")
    set(dll "")
    foreach(line IN LISTS lines)
        if(line MATCHES "^\tDLL Name: (.+)$")
            set(dll "${CMAKE_MATCH_1}")
        elseif(dll AND line MATCHES "^\t[0-9a-f]+\t +[0-9]+ +([A-Za-z0-9_@?$]+)$")
            list(APPEND imports "${dll} ${CMAKE_MATCH_1}")
        elseif(dll AND line MATCHES "^\t[0-9a-f]+\t +<none> +([0-9a-f]+)$")
            list(APPEND imports "${dll} ordinal ${CMAKE_MATCH_1}")
        elseif(line STREQUAL "")
            set(dll "")
        endif()
    endforeach()
    # The oldest Windows the header admits: a newer subsystem version stops a file from
    # loading on older Windows as surely as a missing import.
    string(REGEX MATCH "MajorSubsystemVersion\t([0-9]+)" major "${dump}")
    set(major "${CMAKE_MATCH_1}")
    string(REGEX MATCH "MinorSubsystemVersion\t([0-9]+)" minor "${dump}")
    list(APPEND imports "header SubsystemVersion ${major}.${CMAKE_MATCH_1}")
    list(SORT imports)
    list(REMOVE_DUPLICATES imports)
    get_filename_component(name "${file}" NAME)
    set(list_file "${LISTS}/${name}.txt")
    set(notes "")
    set(expected "")
    if(EXISTS "${list_file}")
        file(STRINGS "${list_file}" lines)
        set(notes ${lines})
        list(FILTER notes INCLUDE REGEX "^#")
        set(expected ${lines})
        list(FILTER expected EXCLUDE REGEX "^#")
    endif()
    if(UPDATE)
        list(JOIN notes "\n" text)
        if(notes)
            string(APPEND text "\n")
        endif()
        list(JOIN imports "\n" lines)
        file(WRITE "${list_file}" "${text}${lines}\n")
        message(STATUS "${list_file}: ${name} imports written")
        continue()
    endif()
    if(NOT EXISTS "${list_file}")
        string(APPEND failures "${name}: no list ${list_file}\n")
        continue()
    endif()
    set(new ${imports})
    list(REMOVE_ITEM new ${expected})
    set(gone ${expected})
    list(REMOVE_ITEM gone ${imports})
    if(new OR gone)
        list(JOIN new "\n    " new)
        list(JOIN gone "\n    " gone)
        string(APPEND failures "${name} differs from ${list_file}\n  new imports:\n    ${new}\n  no longer imported:\n    ${gone}\n")
    endif()
endforeach()
if(failures)
    message(FATAL_ERROR "${failures}Check what each new import needs of Windows (README, "
        "\"Windows versions\"), then update the lists: the same command with -DUPDATE=ON.")
endif()
