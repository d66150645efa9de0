# velora_nested_build(<name> <binary dir> <cache settings>...)
# The same sources configured and built again in a tree of their own below
# this build's folder (with other compilers, toolchains or options), every
# time this build is built; the native test suite runs what it makes.
include(ExternalProject)
function(velora_nested_build name binary_dir)
    ExternalProject_Add(${name}
        SOURCE_DIR ${PROJECT_SOURCE_DIR}
        BINARY_DIR ${binary_dir}
        PREFIX ${CMAKE_BINARY_DIR}/external/${name}
        CMAKE_GENERATOR Ninja
        CMAKE_ARGS ${ARGN}
        BUILD_ALWAYS ON
        INSTALL_COMMAND "")
endfunction()
