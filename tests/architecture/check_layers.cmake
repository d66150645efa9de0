# Checks the include graph between the project's folders:
#   cmake -DSOURCE_DIR=<checkout> -P check_layers.cmake
#
# Includes are spelled from five roots: dll/ (the product's layers and the
# contract), script/, hosts/, tools/ and tests/. The plug-in's layers run one way:
# platform/ under effect/ under render/ under plugin/, with the host contract
# (contract/, headers only) beside them. Outside dll/plugin/ nothing includes
# plugin/: hosts, tools and tests reach the plug-in through the contract.
# The script language sees nothing of ours: the studio's host and the tools
# that read scripts build on it. Hosts see the contract and the kit, never a
# tool; the kit sees no other
# host; the studio's host registers its modules through the browser's
# platform header. Tools see the contract and the hosts they are built on;
# the replacement operator new (tools/heap) sees nothing else, and the
# programs that link it see it. The benchmarks alone time the effect's own
# layers beneath the plug-in object, so they see effect/ and platform/.
cmake_minimum_required(VERSION 3.25)

# include spelling -> the folder it names
set(root_contract dll/contract)
set(root_platform dll/platform)
set(root_effect dll/effect)
set(root_render dll/render)
set(root_plugin dll/plugin)
set(root_script script)
set(root_kit hosts/kit)
set(root_reference hosts/reference)
set(root_web hosts/web)
set(root_windows hosts/windows)
set(root_previewer tools/previewer)
set(root_validator tools/validator)
set(root_heap tools/heap)
set(root_support tests/support)

# folder -> the folders its files may include from
set(allowed_dll/contract dll/contract)
set(allowed_dll/platform dll/platform)
set(allowed_dll/effect dll/effect dll/platform)
set(allowed_dll/render dll/render dll/effect dll/contract)
set(allowed_dll/plugin dll/plugin dll/render dll/effect dll/platform dll/contract)
set(allowed_hosts/kit hosts/kit dll/contract)
set(allowed_hosts/reference hosts/reference hosts/kit dll/contract)
set(allowed_script script)
set(allowed_hosts/web hosts/web hosts/kit script dll/contract)
set(allowed_hosts/windows hosts/windows hosts/kit dll/contract)
set(allowed_tools/previewer tools/previewer hosts/reference hosts/kit script dll/contract)
set(allowed_tools/validator tools/validator tools/heap hosts/kit dll/contract)
set(allowed_tools/fuzz tools/validator hosts/reference hosts/kit script dll/contract)
set(allowed_tools/bench tools/heap hosts/reference hosts/kit dll/effect dll/platform dll/contract)
set(allowed_tools/heap tools/heap)
set(checked_folders dll/contract dll/platform dll/effect dll/render dll/plugin script
    hosts/kit hosts/reference hosts/web hosts/windows tools/previewer tools/validator tools/fuzz tools/heap
    tools/bench)

file(GLOB_RECURSE sources RELATIVE "${SOURCE_DIR}"
    "${SOURCE_DIR}/*.h" "${SOURCE_DIR}/*.cpp")
set(violations "")
set(checked 0)
foreach(source IN LISTS sources)
    if(source MATCHES "^(build|\\.git|node_modules)/" OR source MATCHES "/node_modules/")
        continue()
    endif()
    string(REGEX MATCH "^(dll|hosts|tools)/[^/]+" folder "${source}")
    if(NOT folder)
        string(REGEX MATCH "^[^/]+" folder "${source}")
    endif()
    file(STRINGS "${SOURCE_DIR}/${source}" includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
    foreach(line IN LISTS includes)
        string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]+)\".*" "\\1" included "${line}")
        string(REGEX MATCH "^[^/]+" spelling "${included}")
        if(NOT included MATCHES "/" OR NOT DEFINED root_${spelling})
            continue()  # a file of its own folder, or a system header
        endif()
        set(target ${root_${spelling}})
        math(EXPR checked "${checked} + 1")
        if(target STREQUAL "dll/plugin" AND NOT folder STREQUAL "dll/plugin")
            list(APPEND violations "${source} includes ${included}: only dll/plugin/ includes the plug-in's implementation")
        elseif(source MATCHES "^hosts/web/" AND included STREQUAL "platform/web.h")
            # the studio's host registers its modules with the browser's platform
        elseif(folder IN_LIST checked_folders AND NOT target IN_LIST allowed_${folder})
            list(JOIN allowed_${folder} ", " allowed)
            list(APPEND violations "${source} includes ${included}: ${folder}/ may include only ${allowed}")
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
