# Checks the include graph between the project's folders:
#   cmake -DSOURCE_DIR=<checkout> -P check_layers.cmake
#
# The plug-in's layers run one way: platform/ under effect/ under render/
# under plugin/, with the host contract (contract/, headers only) beside
# them. Outside plugin/ nothing includes plugin/: hosts, tools and tests
# reach the plug-in only through the contract. Hosts and tools see none of
# the layers at all; the studio's host registers its modules through the
# browser's platform header.
cmake_minimum_required(VERSION 3.25)

# folder -> the folders its files may include from
set(allowed_contract contract)
set(allowed_platform platform)
set(allowed_effect effect platform)
set(allowed_render render effect contract)
set(allowed_plugin plugin render effect platform contract)
set(layers contract platform effect render plugin)
# Hosts and tools: the contract and their own kind only.
set(hosts host hostkit previewer validator fuzz)

file(GLOB_RECURSE sources RELATIVE "${SOURCE_DIR}"
    "${SOURCE_DIR}/*.h" "${SOURCE_DIR}/*.cpp")
set(violations "")
set(checked 0)
foreach(source IN LISTS sources)
    if(source MATCHES "^(build|\\.git|node_modules)/" OR source MATCHES "/node_modules/")
        continue()
    endif()
    string(REGEX MATCH "^[^/]+" folder "${source}")
    file(STRINGS "${SOURCE_DIR}/${source}" includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
    foreach(line IN LISTS includes)
        string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]+)\".*" "\\1" included "${line}")
        string(REGEX MATCH "^[^/]+" target "${included}")
        if(NOT included MATCHES "/" OR NOT target IN_LIST layers)
            continue()  # a file of its own folder, or a tool's own header
        endif()
        math(EXPR checked "${checked} + 1")
        if(folder IN_LIST layers)
            if(NOT target IN_LIST allowed_${folder})
                list(APPEND violations "${source} includes ${included}: ${folder}/ may include only ${allowed_${folder}}")
            endif()
        elseif(target STREQUAL "plugin")
            list(APPEND violations "${source} includes ${included}: only plugin/ includes the plug-in's implementation")
        elseif(folder IN_LIST hosts AND NOT target STREQUAL "contract")
            list(APPEND violations "${source} includes ${included}: a host sees only the contract")
        elseif(source MATCHES "^web/host/" AND NOT target STREQUAL "contract"
               AND NOT included STREQUAL "platform/web.h")
            list(APPEND violations "${source} includes ${included}: the studio's host sees only the contract and platform/web.h")
        endif()
    endforeach()
endforeach()

list(LENGTH violations count)
if(count GREATER 0)
    list(JOIN violations "\n  " text)
    message(FATAL_ERROR "${count} include(s) against the layers:\n  ${text}")
endif()
if(checked EQUAL 0)
    message(FATAL_ERROR "no include between folders found under ${SOURCE_DIR}: wrong folder?")
endif()
message(STATUS "${checked} includes between folders, all along the layers")
