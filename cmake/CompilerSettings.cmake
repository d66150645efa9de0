# The compiler settings every target shares.

set(CMAKE_CXX_STANDARD 20)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
set(CMAKE_CXX_EXTENSIONS OFF)
set(CMAKE_POSITION_INDEPENDENT_CODE ON)
set(CMAKE_CXX_VISIBILITY_PRESET hidden)
set(CMAKE_VISIBILITY_INLINES_HIDDEN ON)

# Particle state is part of the observable behaviour: no fused multiply-add,
# no value-changing optimisations, IEEE double for double.
add_compile_options(-ffp-contract=off -fno-fast-math)

# AddressSanitizer (with LeakSanitizer) and UndefinedBehaviorSanitizer over
# every target: the sanitize preset, and the tree cmake/SanitizerBuild.cmake
# makes for the test suite. GCC leaves float-to-integer overflow out of
# "undefined". The fuzzing build (clang) adds libFuzzer's coverage as well.
if(VELORA_SANITIZE OR VELORA_FUZZ)
    add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer
        $<$<CXX_COMPILER_ID:GNU>:-fsanitize=float-cast-overflow>)
    add_link_options(-fsanitize=address,undefined)
endif()
if(VELORA_FUZZ)
    add_compile_options(-fsanitize=fuzzer-no-link)
    add_link_options(-fsanitize=fuzzer-no-link)
endif()

# Warnings are errors everywhere; the plug-in's own sources and the hosts also
# get the conversion warnings, since every narrowing there must be deliberate.
add_library(velora_warnings INTERFACE)
target_compile_options(velora_warnings INTERFACE -Wall -Wextra -Wpedantic -Wshadow -Werror)
add_library(velora_strict INTERFACE)
target_compile_options(velora_strict INTERFACE -Wconversion -Wsign-conversion -Wold-style-cast)
target_link_libraries(velora_strict INTERFACE velora_warnings)

# velora_include_view(<target> <PUBLIC|PRIVATE|INTERFACE> <folder>...)
# Gives a target an include folder that holds the named folders of the
# checkout and nothing else, each under its own name: an include of any other
# folder does not compile. (Symbolic links in the build tree.)
function(velora_include_view target scope)
    set(view ${CMAKE_BINARY_DIR}/include-views/${target})
    file(MAKE_DIRECTORY ${view})
    # Only what differs is made again: configuring never takes a header
    # away, even for a moment, from a compile that is running.
    set(names)
    foreach(folder IN LISTS ARGN)
        get_filename_component(name ${folder} NAME)
        list(APPEND names ${name})
        set(link ${view}/${name})
        set(points "")
        if(IS_SYMLINK ${link})
            file(READ_SYMLINK ${link} points)
        endif()
        if(NOT points STREQUAL "${PROJECT_SOURCE_DIR}/${folder}")
            file(REMOVE_RECURSE ${link})
            file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${folder} ${link} SYMBOLIC)
        endif()
    endforeach()
    file(GLOB present RELATIVE ${view} LIST_DIRECTORIES true ${view}/*)
    foreach(name IN LISTS present)
        if(NOT name IN_LIST names)
            file(REMOVE_RECURSE ${view}/${name})
        endif()
    endforeach()
    target_include_directories(${target} ${scope} ${view})
endfunction()

# Every test carries one label, its tier, given where the test is added, so
# that a tier runs by itself (ctest -L unit): unit (under a minute in all),
# e2e (the built plug-in driven from outside), windows (cross builds, Wine),
# web (the studio), sanitize, fuzz and bench. Called at the end of each file
# that adds tests: a test without a tier stops the configuration.
function(velora_check_tiers)
    get_property(tests DIRECTORY PROPERTY TESTS)
    foreach(test IN LISTS tests)
        get_property(label TEST ${test} PROPERTY LABELS)
        if(NOT label MATCHES "^(unit|e2e|windows|web|sanitize|fuzz|bench)$")
            message(FATAL_ERROR "test ${test}: give it one tier (LABELS) where it is added")
        endif()
    endforeach()
endfunction()

# Debian's emcc runs its JavaScript optimiser under Node.js at link time, and
# Node finds Debian's acorn module only through NODE_PATH.
if(EMSCRIPTEN)
    set(CMAKE_CXX_LINKER_LAUNCHER ${CMAKE_COMMAND} -E env NODE_PATH=${VELORA_NODE_PATH})
    # Every program of the WebAssembly build, as one:
    # - C++ exceptions are WebAssembly's own (-fwasm-exceptions; Chrome 95,
    #   Firefox 100, Safari 15.2 onwards). The plug-in guards every entry
    #   point with try/catch, as the DLL does; Emscripten's other way sends
    #   each call that may throw inside a guarded call out to JavaScript and
    #   back, and the plug-in makes one call per pixel of a sprite in mode 3.
    # - The module is optimised whole at link time (-flto), and a virtual
    #   call on an interface that one class alone implements goes straight to
    #   that class (-fwhole-program-vtables): the studio's host has one
    #   surface class, so the plug-in's calls on surfaces, the same calls in
    #   the same order, go straight to it, and its pixel addresses (written
    #   to be inlined, kit/surface.h) are worked out in the plug-in's loop.
    # Measured in the studio (docs/benchmarks.md): with the pixel loops in
    # WebAssembly SIMD, a fifth of the work of a frame in mode 3.
    add_compile_options(-fwasm-exceptions -flto -fwhole-program-vtables)
    add_link_options(-fwasm-exceptions -flto -fwhole-program-vtables)
endif()
