# Every setting of the build, in one place. Presets (CMakePresets.json) pick
# among them; the nested trees the test suite makes pass them on.

# What is built.
option(VELORA_BUILD_TESTS "Build the tests" ON)
option(VELORA_PREVIEWER "Build the reference host and the previewer (Linux; pixman, libpng, libwebp)" ON)
option(VELORA_VALIDATOR "Build the plug-in validator" ON)
option(VELORA_BENCHMARKS "Build the benchmarks (Google Benchmark)" ON)
option(VELORA_WINE_HOST "In a Windows build: the test host and stand-in engine modules run under Wine" OFF)
option(VELORA_RELEASE_ZIP
    "In a 32-bit Windows build: the release zip, with the studio file (Emscripten, Node.js, npm) and the HTML guides (python3-markdown)"
    ON)

# How it is built.
option(VELORA_SANITIZE "Build everything with ASan, LSan and UBSan" OFF)
option(VELORA_FUZZ "Build the fuzzer (clang): everything sanitized and instrumented for libFuzzer" OFF)
option(VELORA_FUZZ_PNG "In the fuzzing build: the reference host (libpng) and its PNG loading target" OFF)

# The trees the native test suite makes of the same sources and tests from
# outside.
option(VELORA_SANITIZER_TESTS "Build the sanitized and fuzzing trees and test them from the native build" ON)
option(VELORA_CROSS_TESTS "Cross-build the Windows DLLs and test them from the native build" ON)
option(VELORA_WEB_TESTS "Build the WebAssembly studio and test it in headless Chromium" ON)

# How long the long runs of the test suite are.
set(VELORA_VALIDATOR_CALLS 200000 CACHE STRING "Calls of the validator run in the test suite")
set(VELORA_SANITIZE_VALIDATOR_CALLS 1000000 CACHE STRING
    "Calls of the validator run against the sanitized plug-in")
set(VELORA_WINDOWS_VALIDATOR_CALLS 200000 CACHE STRING
    "Calls of the i686 validator run under 32-bit Wine in the test suite")
set(VELORA_FUZZ_SECONDS 60 CACHE STRING "Seconds of the bounded fuzzer run in the test suite")
set(VELORA_FUZZ_READER_SECONDS 30 CACHE STRING
    "Seconds of each bounded run of the readers' fuzzers (script, PNG) in the test suite")

# Where things are found and written.
set(VELORA_DIST_DIR ${CMAKE_BINARY_DIR}/dist CACHE PATH "Where the release zip is written")
# 32-bit Wine's own loader (Debian's wine32:i386; /usr/bin/wine would pick the
# 64-bit one). Where it is missing or cannot run, the 32-bit runs are
# reported as skipped, with the reason.
set(VELORA_WINE32 /usr/lib/wine/wine CACHE FILEPATH "The loader of 32-bit Wine")
# Debian's Node.js modules, which Emscripten's linker needs (acorn).
set(VELORA_NODE_PATH "/usr/share/nodejs" CACHE PATH "Folder of Debian's Node.js modules (acorn)")
