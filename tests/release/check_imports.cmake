# Compares a DLL's import table with the list of imports in a Markdown file:
#   cmake -DTOOL=<objdump> -DLIBRARY=<dll> -DDOC=<docs/release.md> -P check_imports.cmake
#
# The list is the table between the lines "<!-- imports: begin -->" and
# "<!-- imports: end -->", one row per imported function:
#   | `KERNEL32.dll` | `GetTickCount` | who needs it | Windows NT 3.1, 95 |
# The DLL must import exactly the functions listed, and every row must name
# a Windows no later than XP in its last column.
foreach(var TOOL LIBRARY DOC)
    if(NOT ${var})
        message(FATAL_ERROR "${var} is required")
    endif()
endforeach()

file(READ ${DOC} text)
string(FIND "${text}" "<!-- imports: begin -->" begin)
string(FIND "${text}" "<!-- imports: end -->" end)
if(begin EQUAL -1 OR end EQUAL -1 OR end LESS begin)
    message(FATAL_ERROR "no imports table between the markers in ${DOC}")
endif()
math(EXPR length "${end} - ${begin}")
string(SUBSTRING "${text}" ${begin} ${length} table)
# (a ";" in a row would split it: a CMake list)
string(REPLACE ";" "," table "${table}")
string(REPLACE "\n" ";" rows "${table}")
set(listed "")
foreach(row IN LISTS rows)
    if(NOT row MATCHES "^\\| `([^`]+)` \\| `([^`]+)` \\|[^|]+\\|([^|]+)\\|$")
        continue()
    endif()
    string(TOUPPER "${CMAKE_MATCH_1}" dll)
    set(entry "${dll}:${CMAKE_MATCH_2}")
    string(STRIP "${CMAKE_MATCH_3}" oldest)
    if(NOT oldest MATCHES "^Windows (NT 3\\.1|95|98|NT 4\\.0|2000|XP)([ ,;(]|$)")
        message(FATAL_ERROR "${entry}: oldest Windows \"${oldest}\" is not XP or earlier")
    endif()
    list(APPEND listed "${entry}")
endforeach()
if(NOT listed)
    message(FATAL_ERROR "the imports table in ${DOC} has no rows")
endif()

execute_process(COMMAND ${TOOL} -p ${LIBRARY} OUTPUT_VARIABLE listing RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "objdump failed on ${LIBRARY}")
endif()
# Each DLL's block: its "DLL Name:" line, a header line, then one line per
# function ("<hint-table entry> <hint> <name>") up to a blank line.
string(REPLACE "\n" ";" lines "${listing}")
set(imported "")
set(dll "")
foreach(line IN LISTS lines)
    if(line MATCHES "^[ \t]*DLL Name: (.+)$")
        string(TOUPPER "${CMAKE_MATCH_1}" dll)
    elseif(dll AND line MATCHES "^[ \t]+[0-9a-fA-F]+[ \t]+[0-9]+[ \t]+([A-Za-z_][A-Za-z0-9_@]*)$")
        list(APPEND imported "${dll}:${CMAKE_MATCH_1}")
    elseif(line MATCHES "^[ \t]*$")
        set(dll "")
    endif()
endforeach()
if(NOT imported)
    message(FATAL_ERROR "no imported function found in the objdump listing of ${LIBRARY}")
endif()

list(SORT listed)
list(SORT imported)
set(unlisted ${imported})
list(REMOVE_ITEM unlisted ${listed})
set(unused ${listed})
list(REMOVE_ITEM unused ${imported})
if(unlisted OR unused)
    message(FATAL_ERROR "the imports of ${LIBRARY} differ from the list in ${DOC}\n"
        "  imported but not listed: ${unlisted}\n"
        "  listed but not imported: ${unused}")
endif()
list(LENGTH imported count)
message(STATUS "${count} imports, as listed: ${imported}")
