# Turns a module offset inside the shipped, stripped DLL into a function and
# a source line, as docs/release.md tells a developer to do with a crash
# address:
#   cmake -DOBJDUMP=<objdump> -DADDR2LINE=<addr2line> -DLIBRARY=<dll>
#         -DEXPORT=<name> -DSOURCE=<file of the checkout> -DSOURCE_DIR=<checkout>
#         -P addr2line.cmake
# The offset is EXPORT's, from the DLL's export table; addr2line reads the
# debug information from the .debug file the DLL's .gnu_debuglink names. It
# must name EXPORT and the line of SOURCE where EXPORT is defined.
cmake_minimum_required(VERSION 3.25)
foreach(var OBJDUMP ADDR2LINE LIBRARY EXPORT SOURCE SOURCE_DIR)
    if(NOT ${var})
        message(FATAL_ERROR "${var} is required")
    endif()
endforeach()

execute_process(COMMAND ${OBJDUMP} -p ${LIBRARY} OUTPUT_VARIABLE listing RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "objdump failed on ${LIBRARY}")
endif()
if(NOT listing MATCHES "\nImageBase[ \t]+([0-9a-fA-F]+)\n")
    message(FATAL_ERROR "no ImageBase in the objdump listing of ${LIBRARY}")
endif()
set(image_base "0x${CMAKE_MATCH_1}")
# The name table gives the export's index into the address table.
if(NOT listing MATCHES "\n[ \t]+\\[ *([0-9]+)\\] ${EXPORT}\n")
    message(FATAL_ERROR "${EXPORT} is not in the export table of ${LIBRARY}")
endif()
set(index ${CMAKE_MATCH_1})
if(NOT listing MATCHES "\n[ \t]+\\[ *${index}\\] \\+base\\[ *[0-9]+\\] ([0-9a-fA-F]+) Export RVA")
    message(FATAL_ERROR "no address for export ${index} (${EXPORT}) in ${LIBRARY}")
endif()
set(offset "0x${CMAKE_MATCH_1}")
math(EXPR address "${image_base} + ${offset}" OUTPUT_FORMAT HEXADECIMAL)

execute_process(COMMAND ${ADDR2LINE} -f -C -e ${LIBRARY} ${address}
    OUTPUT_VARIABLE answer RESULT_VARIABLE status)
string(STRIP "${answer}" answer)
message(STATUS "DrawVelora.dll+${offset} (${address}):\n${answer}")

# The line that defines the function, in the checkout's own spelling.
file(STRINGS ${SOURCE_DIR}/${SOURCE} lines)
set(number 0)
set(expected_line "")
foreach(line IN LISTS lines)
    math(EXPR number "${number} + 1")
    if(line MATCHES "[ *]${EXPORT}\\(" AND NOT line MATCHES ";[ \t]*$")
        set(expected_line ${number})
        break()
    endif()
endforeach()
if(NOT expected_line)
    message(FATAL_ERROR "no definition of ${EXPORT} in ${SOURCE}")
endif()
if(NOT status EQUAL 0 OR NOT answer MATCHES "^${EXPORT}\n(.*):([0-9]+)")
    message(FATAL_ERROR "addr2line did not name ${EXPORT} (no debug information found "
        "through .gnu_debuglink?)")
endif()
set(file "${CMAKE_MATCH_1}")
set(line "${CMAKE_MATCH_2}")
string(REGEX REPLACE "^\\./" "" file "${file}")
# The entry address belongs to the definition's line or, with the brace on
# a line of its own, to the brace's.
math(EXPR brace_line "${expected_line} + 1")
if(NOT file STREQUAL SOURCE OR (NOT line EQUAL expected_line AND NOT line EQUAL brace_line))
    message(FATAL_ERROR "addr2line says ${file}:${line}, expected ${SOURCE}:${expected_line}")
endif()
message(STATUS "${EXPORT} at ${SOURCE}:${line}")
