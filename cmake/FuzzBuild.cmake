# The fuzzing build, made and run from the native build.
#
# A tree of its own (<build>/fuzz) builds the plug-in, the validator's core and
# the libFuzzer target with clang, sanitized and instrumented for coverage
# (VELORA_FUZZ). The native suite runs the fuzzer for a bounded time on a
# corpus kept in that tree, so later runs start from what earlier ones found.
# The readers of what users hand the tools have targets of their own: the
# script reader, and PNG loading when libpng is here (the fuzzing tree then
# builds the reference host, the previewer's loader, and nothing more of the
# previewer). Each runs for a bounded time on a corpus in that tree, seeded
# from the fixtures and from the inputs kept in tests/fuzz/corpus/.
# Longer runs: see docs/testing.md.
include(${CMAKE_CURRENT_LIST_DIR}/NestedBuild.cmake)

find_program(VELORA_CLANGXX NAMES clang++ clang++-14 REQUIRED)

set(VELORA_FUZZ_DIR ${CMAKE_BINARY_DIR}/fuzz)
find_package(PNG QUIET)
set(velora_fuzz_png OFF)
if(PNG_FOUND)
    set(velora_fuzz_png ON)
endif()

velora_nested_build(velora_fuzz_build ${VELORA_FUZZ_DIR}
    -DCMAKE_CXX_COMPILER=${VELORA_CLANGXX}
    -DCMAKE_BUILD_TYPE=RelWithDebInfo
    -DVELORA_FUZZ=ON
    -DVELORA_BUILD_TESTS=OFF
    -DVELORA_CROSS_TESTS=OFF
    -DVELORA_WEB_TESTS=OFF
    -DVELORA_BENCHMARKS=OFF
    -DVELORA_PREVIEWER=OFF
    -DVELORA_FUZZ_PNG=${velora_fuzz_png})

file(MAKE_DIRECTORY ${VELORA_FUZZ_DIR}/corpus ${VELORA_FUZZ_DIR}/artifacts)
add_test(NAME fuzz.bounded_run
    COMMAND ${VELORA_FUZZ_DIR}/fuzz/velora_fuzz
        -max_total_time=${VELORA_FUZZ_SECONDS} -timeout=30 -rss_limit_mb=4096
        -print_final_stats=1 -artifact_prefix=${VELORA_FUZZ_DIR}/artifacts/
        ${VELORA_FUZZ_DIR}/corpus)
set_tests_properties(fuzz.bounded_run PROPERTIES
    LABELS fuzz
    TIMEOUT 600
    PASS_REGULAR_EXPRESSION "Done [0-9]+ runs in"
    FAIL_REGULAR_EXPRESSION "ERROR: |FAULT: |runtime error:|deadly signal")

# velora_reader_fuzz_test(<name> <target> <seed folder>...): the target run
# for VELORA_FUZZ_READER_SECONDS on corpus-<name> (where it keeps what it
# finds), reading the seeds as well.
function(velora_reader_fuzz_test name target)
    file(MAKE_DIRECTORY ${VELORA_FUZZ_DIR}/corpus-${name} ${VELORA_FUZZ_DIR}/artifacts-${name})
    add_test(NAME fuzz.${name}.bounded_run
        COMMAND ${VELORA_FUZZ_DIR}/fuzz/${target}
            -max_total_time=${VELORA_FUZZ_READER_SECONDS} -timeout=30 -rss_limit_mb=4096
            -print_final_stats=1 -artifact_prefix=${VELORA_FUZZ_DIR}/artifacts-${name}/
            ${VELORA_FUZZ_DIR}/corpus-${name} ${ARGN})
    set_tests_properties(fuzz.${name}.bounded_run PROPERTIES
        LABELS fuzz
        TIMEOUT 600
        PASS_REGULAR_EXPRESSION "Done [0-9]+ runs in"
        FAIL_REGULAR_EXPRESSION "ERROR: |FAULT: |runtime error:|deadly signal")
endfunction()

velora_reader_fuzz_test(script velora_fuzz_script
    ${PROJECT_SOURCE_DIR}/tests/scripts ${PROJECT_SOURCE_DIR}/tests/fuzz/corpus/script)
if(velora_fuzz_png)
    velora_reader_fuzz_test(png velora_fuzz_png
        ${PROJECT_SOURCE_DIR}/docs/examples ${PROJECT_SOURCE_DIR}/tests/fuzz/corpus/png)
endif()
