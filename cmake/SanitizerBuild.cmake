# The sanitized build of the same sources, made and run from the native build.
#
# A tree of its own (<build>/sanitize) builds everything with AddressSanitizer,
# LeakSanitizer and UndefinedBehaviorSanitizer (VELORA_SANITIZE, see the
# top-level CMakeLists.txt). Two tests of the native suite run it: that tree's
# whole test suite, and a long validator run against its plug-in.
include(${CMAKE_CURRENT_LIST_DIR}/NestedBuild.cmake)

set(VELORA_SANITIZE_DIR ${CMAKE_BINARY_DIR}/sanitize)

velora_nested_build(velora_sanitize ${VELORA_SANITIZE_DIR}
    -DCMAKE_CXX_COMPILER=${CMAKE_CXX_COMPILER}
    -DCMAKE_BUILD_TYPE=RelWithDebInfo
    -DVELORA_SANITIZE=ON
    -DVELORA_BUILD_TESTS=ON
    -DVELORA_CROSS_TESTS=OFF
    -DVELORA_WEB_TESTS=OFF
    -DVELORA_BENCHMARKS=OFF
    -DVELORA_PREVIEWER=${VELORA_PREVIEWER})

set(sanitizer_environment
    "UBSAN_OPTIONS=print_stacktrace=1"
    "ASAN_OPTIONS=detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1")

# That tree's own suite, but for its short validator run: the long one follows.
add_test(NAME sanitize.tests
    COMMAND ${CMAKE_CTEST_COMMAND} --test-dir ${VELORA_SANITIZE_DIR}
        --output-on-failure --parallel 2 --exclude-regex "^validator\\.run$")
set_tests_properties(sanitize.tests PROPERTIES
    LABELS sanitize
    TIMEOUT 1200
    ENVIRONMENT "${sanitizer_environment}"
    FAIL_REGULAR_EXPRESSION "[1-9][0-9]* tests? failed|No tests were found")

add_test(NAME sanitize.validator
    COMMAND ${VELORA_SANITIZE_DIR}/validator/velora_validator
        --seed 20240601 --calls ${VELORA_SANITIZE_VALIDATOR_CALLS})
set_tests_properties(sanitize.validator PROPERTIES
    LABELS sanitize
    TIMEOUT 1200
    ENVIRONMENT "${sanitizer_environment}"
    PASS_REGULAR_EXPRESSION "seed 20240601, [0-9]+ calls, 0 faults")
