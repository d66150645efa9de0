# velora_nested_build(<name> <binary dir> <cache settings>...
#                     [TARGETS <target>...] [BYPRODUCTS <file>...])
# The same sources configured and built again in a tree of their own below
# this build's folder (with other compilers, toolchains or options), every
# time this build is built; the native test suite runs what it makes.
# TARGETS builds only those targets of the tree (else all of it); BYPRODUCTS
# names files it makes that this build's own rules depend on.
include(ExternalProject)
function(velora_nested_build name binary_dir)
    cmake_parse_arguments(PARSE_ARGV 2 nested "" "" "TARGETS;BYPRODUCTS")
    set(build_command)
    if(nested_TARGETS)
        set(build_command BUILD_COMMAND ${CMAKE_COMMAND} --build <BINARY_DIR> --target ${nested_TARGETS})
    endif()
    ExternalProject_Add(${name}
        SOURCE_DIR ${PROJECT_SOURCE_DIR}
        BINARY_DIR ${binary_dir}
        PREFIX ${CMAKE_BINARY_DIR}/external/${name}
        CMAKE_GENERATOR Ninja
        CMAKE_ARGS ${nested_UNPARSED_ARGUMENTS}
        ${build_command}
        BUILD_BYPRODUCTS ${nested_BYPRODUCTS}
        BUILD_ALWAYS ON
        INSTALL_COMMAND "")
endfunction()
