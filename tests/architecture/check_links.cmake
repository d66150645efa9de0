# Checks that every relative Markdown link in the README and in docs/ names
# a file that exists, so that moving a file or a folder cannot leave a
# document pointing at nothing:
#   cmake -DSOURCE_DIR=<checkout> -P check_links.cmake
# Web addresses and links within the same page are not followed; a link's
# #fragment is dropped before the file is looked up.
cmake_minimum_required(VERSION 3.25)

file(GLOB documents ${SOURCE_DIR}/README.md ${SOURCE_DIR}/docs/*.md)
if(NOT documents)
    message(FATAL_ERROR "no README.md or docs/*.md below ${SOURCE_DIR}")
endif()
set(broken "")
foreach(document IN LISTS documents)
    file(READ ${document} text)
    # (brackets would keep a CMake list from splitting: mark links without them)
    string(REPLACE "](" "<link>(" text "${text}")
    string(REGEX REPLACE "[][]" "" text "${text}")
    string(REGEX MATCHALL "<link>\\([^)]*\\)" links "${text}")
    get_filename_component(folder ${document} DIRECTORY)
    file(RELATIVE_PATH name ${SOURCE_DIR} ${document})
    foreach(link IN LISTS links)
        string(REGEX REPLACE "^<link>\\(([^ #]*).*\\)$" "\\1" target "${link}")
        if(target STREQUAL "" OR target MATCHES "^[a-z]+:")
            continue()
        endif()
        if(NOT EXISTS ${folder}/${target})
            string(APPEND broken "\n  ${name}: ${target}")
        endif()
    endforeach()
endforeach()
if(broken)
    message(FATAL_ERROR "links to files that do not exist:${broken}")
endif()
list(LENGTH documents count)
message(STATUS "every relative link of ${count} documents resolves")
