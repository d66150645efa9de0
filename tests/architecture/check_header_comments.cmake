# Checks that every source file opens with a comment saying what it holds:
#   cmake -DSOURCE_DIR=<checkout> -P check_header_comments.cmake
#
# The sources are the C++, JavaScript, Python, shell and CMake files under
# dll/, script/, hosts/, tools/, studio/, tests/ and cmake/, leaving out
# installed packages (node_modules/) and the fuzzers' corpus. A "#!" line may
# come first; the comment must follow it at once. A Python module may open
# with its docstring instead. Fails naming every file that opens otherwise.
cmake_minimum_required(VERSION 3.25)

if(NOT IS_DIRECTORY "${SOURCE_DIR}")
    message(FATAL_ERROR "SOURCE_DIR is not a folder: '${SOURCE_DIR}'")
endif()

set(roots dll script hosts tools studio tests cmake)
set(patterns "")
foreach(root IN LISTS roots)
    foreach(extension IN ITEMS cpp h js mjs py sh cmake)
        list(APPEND patterns "${SOURCE_DIR}/${root}/*.${extension}")
    endforeach()
endforeach()
file(GLOB_RECURSE sources RELATIVE "${SOURCE_DIR}" ${patterns})
list(SORT sources)

set(missing "")  # one line a file, kept as text: a first line may hold ";" or brackets
set(count 0)
set(checked 0)
foreach(source IN LISTS sources)
    if(source MATCHES "(^|/)node_modules/" OR source MATCHES "^tests/fuzz/corpus/")
        continue()
    endif()
    math(EXPR checked "${checked} + 1")
    file(READ "${SOURCE_DIR}/${source}" head LIMIT 512)
    string(REGEX REPLACE "^#![^\n]*\n" "" head "${head}")
    if(source MATCHES "\\.(sh|cmake)$")
        set(comment "^#")
    elseif(source MATCHES "\\.py$")
        set(comment "^(#|\"\"\"|''')")
    else()
        set(comment "^(//|/\\*)")
    endif()
    if(head MATCHES "${comment}")
        continue()
    endif()
    # The first line, as it reads, to say what the file opens with instead.
    string(FIND "${head}" "\n" end)
    string(SUBSTRING "${head}" 0 ${end} first)
    string(LENGTH "${first}" length)
    if(length GREATER 60)
        string(SUBSTRING "${first}" 0 60 first)
        string(APPEND first "...")
    endif()
    if(head STREQUAL "")
        string(APPEND missing "\n  ${source}: is empty")
    elseif(first STREQUAL "")
        string(APPEND missing "\n  ${source}: opens with an empty line")
    else()
        string(APPEND missing "\n  ${source}: opens with '${first}'")
    endif()
    math(EXPR count "${count} + 1")
endforeach()

if(count GREATER 0)
    message(FATAL_ERROR "${count} source file(s) without an opening comment saying what they hold:${missing}")
endif()
if(checked EQUAL 0)
    message(FATAL_ERROR "no source file found under ${SOURCE_DIR}: wrong folder?")
endif()
message(STATUS "${checked} source files, each opening with a comment")
