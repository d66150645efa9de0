# Checks the names a built plug-in exports against the nine of its binary
# interface. MODE nm reads an ELF shared object's dynamic symbols; MODE objdump
# reads a PE DLL's export table and, with IMPORTS (DLL names separated by ";"
# or ","), checks that it imports from no other DLL; with FORMAT it also checks
# the file format objdump reports (pei-i386 for 32-bit Windows); with FUNCTIONS
# ("DLL:name,name,...") it checks that those functions are imported from that
# DLL (the names, not decorated, as the import table lists them).
set(expected CreateInterface Init Release SetMaxAmp SetNumof SetType SetXSpeed SetYSpeed Start)

if(MODE STREQUAL "nm")
    execute_process(COMMAND ${TOOL} -D --defined-only ${LIBRARY}
        OUTPUT_VARIABLE listing RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "nm failed on ${LIBRARY}")
    endif()
    set(names "")
    string(REPLACE "\n" ";" lines "${listing}")
    foreach(line IN LISTS lines)
        # "<address> <type> <name>"; the linker also defines a version node
        # of type A, which is not an export.
        if(line MATCHES "^[0-9a-fA-F]+ ([A-Za-z]) ([^ ]+)$" AND NOT CMAKE_MATCH_1 STREQUAL "A")
            list(APPEND names "${CMAKE_MATCH_2}")
        endif()
    endforeach()
elseif(MODE STREQUAL "objdump")
    execute_process(COMMAND ${TOOL} -p ${LIBRARY}
        OUTPUT_VARIABLE listing RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "objdump failed on ${LIBRARY}")
    endif()
    string(REGEX MATCH "\\[Ordinal/Name Pointer\\] Table[^\n]*\n(.*)" _ "${listing}")
    set(table "${CMAKE_MATCH_1}")
    set(names "")
    string(REPLACE "\n" ";" lines "${table}")
    foreach(line IN LISTS lines)
        # Any name at all, so that an unexpected one (decorated, mangled)
        # is counted rather than ending the table early.
        if(line MATCHES "^[ \t]+\\[[ 0-9]+\\] ([^ \t]+)$")
            list(APPEND names "${CMAKE_MATCH_1}")
        elseif(NOT line MATCHES "^[ \t]*$" OR names)
            break()
        endif()
    endforeach()
    if(FORMAT)
        execute_process(COMMAND ${TOOL} -f ${LIBRARY}
            OUTPUT_VARIABLE header RESULT_VARIABLE status)
        if(NOT status EQUAL 0 OR NOT header MATCHES "file format ([^ \t\n]+)")
            message(FATAL_ERROR "objdump -f found no file format in ${LIBRARY}")
        endif()
        if(NOT CMAKE_MATCH_1 STREQUAL FORMAT)
            message(FATAL_ERROR "file format ${CMAKE_MATCH_1}, not ${FORMAT}: ${LIBRARY}")
        endif()
        message(STATUS "format: ${CMAKE_MATCH_1}")
    endif()
    if(IMPORTS)
        string(REPLACE "," ";" IMPORTS "${IMPORTS}")
        string(REGEX MATCHALL "DLL Name: [^\n]+" dlls "${listing}")
        # Every Windows DLL imports something; none found means the listing
        # was not understood, not that the DLL is clean.
        if(NOT dlls)
            message(FATAL_ERROR "no import table found in the objdump listing of ${LIBRARY}")
        endif()
        foreach(entry IN LISTS dlls)
            string(REGEX REPLACE "DLL Name: " "" dll "${entry}")
            string(TOUPPER "${dll}" dll)
            list(FIND IMPORTS "${dll}" found)
            if(found EQUAL -1)
                message(FATAL_ERROR "foreign import ${dll} (allowed: ${IMPORTS}) in ${LIBRARY}")
            endif()
        endforeach()
        message(STATUS "imports: ${dlls}")
    endif()
    if(FUNCTIONS)
        if(NOT FUNCTIONS MATCHES "^([^:]+):(.+)$")
            message(FATAL_ERROR "FUNCTIONS must read DLL:name,name,...")
        endif()
        set(dll "${CMAKE_MATCH_1}")
        string(REPLACE "," ";" functions "${CMAKE_MATCH_2}")
        # The DLL's block of the import table: its "DLL Name:" line up to the
        # next blank line. DLL names compare without regard to case.
        string(TOLOWER "${listing}" lowered)
        string(TOLOWER "DLL Name: ${dll}
" header)
        string(FIND "${lowered}" "${header}" start)
        if(start EQUAL -1)
            message(FATAL_ERROR "nothing is imported from ${dll} in ${LIBRARY}")
        endif()
        string(SUBSTRING "${listing}" ${start} -1 block)
        string(FIND "${block}" "

" end)
        string(SUBSTRING "${block}" 0 ${end} block)
        foreach(function IN LISTS functions)
            if(NOT block MATCHES "[ 	]${function}(
|$)")
                message(FATAL_ERROR "${function} is not imported from ${dll} in ${LIBRARY}")
            endif()
        endforeach()
        message(STATUS "imported from ${dll}: ${functions}")
    endif()
else()
    message(FATAL_ERROR "MODE must be nm or objdump")
endif()

list(SORT names)
list(REMOVE_DUPLICATES names)
if(NOT names STREQUAL expected)
    message(FATAL_ERROR "exported names differ\n  expected: ${expected}\n  found:    ${names}")
endif()
message(STATUS "exports: ${names}")
