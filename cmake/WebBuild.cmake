# The effect studio, made and checked from the native build.
#
# The WebAssembly build of the same sources goes into a tree of its own below
# this build's folder (web/, with the page in web/studio/; sources in studio/), configured with
# Emscripten's toolchain as the "web" preset configures build/web. Then:
#   web.host.*            the studio host's pixel work and the plug-in driven
#                         through it, natively, under AddressSanitizer
#   web.studio.units      the page's pure modules (script, sheets, setup and
#                         link, warnings) under node:test, and the link and
#                         setup-file readers' properties (fast-check, from
#                         the studio's packages: web.studio.npm_ci)
#   web.studio.browser    the built page served on a free port of 127.0.0.1
#                         and driven in Debian's headless Chromium
#   web.long_run          the plug-in's long seeded run as WebAssembly in
#                         Node.js: the same pinned digests as every build
#   web.kit.conformance  the host kit's conformance suite as
#                         WebAssembly in Node.js
#   web.kit_bench         the kit's pixel work in Node.js, the WebAssembly
#                         SIMD loops against the portable ones (label bench)
#   web.script.grammar    the page's script grammar (studio/page/grammar.js over
#                         the studio's module) in Node.js, held to the
#                         fixtures the previewer's reader is held to
include(${CMAKE_CURRENT_LIST_DIR}/NestedBuild.cmake)

find_file(VELORA_EMSCRIPTEN_TOOLCHAIN Emscripten.cmake
    PATHS /usr/share/emscripten/cmake/Modules/Platform NO_DEFAULT_PATH REQUIRED)
find_program(VELORA_NODE NAMES node nodejs REQUIRED)
find_program(VELORA_NPM NAMES npm REQUIRED)
find_program(VELORA_CHROMIUM NAMES chromium PATHS /usr/bin NO_DEFAULT_PATH REQUIRED)
find_package(Python3 COMPONENTS Interpreter REQUIRED)

set(VELORA_WEB_DIR ${CMAKE_BINARY_DIR}/web)

velora_nested_build(velora_web ${VELORA_WEB_DIR}
    -DCMAKE_TOOLCHAIN_FILE=${VELORA_EMSCRIPTEN_TOOLCHAIN}
    -DCMAKE_BUILD_TYPE=Release
    # (in this tree: the long run and the kit's conformance suite for Node.js)
    -DVELORA_BUILD_TESTS=ON)

add_subdirectory(${PROJECT_SOURCE_DIR}/tests/hosts/web ${CMAKE_BINARY_DIR}/web-host-tests)

# The studio's npm packages for the Node.js tests that need one
# (fast-check for the readers' properties), installed with npm ci.
add_test(NAME web.studio.npm_ci
    COMMAND ${CMAKE_COMMAND} -DWEB=${PROJECT_SOURCE_DIR}/studio -DWORK=${CMAKE_BINARY_DIR}/studio-node
        -DNPM=${VELORA_NPM} -P ${PROJECT_SOURCE_DIR}/tests/studio/npm_ci.cmake)
set_tests_properties(web.studio.npm_ci PROPERTIES LABELS web TIMEOUT 300 FIXTURES_SETUP velora_studio_npm)

add_test(NAME web.studio.units
    COMMAND ${VELORA_NODE} --test ${PROJECT_SOURCE_DIR}/tests/studio/pure_modules.test.mjs
        ${PROJECT_SOURCE_DIR}/tests/studio/setup_properties.test.mjs)
set_tests_properties(web.studio.units PROPERTIES LABELS web TIMEOUT 180 FIXTURES_REQUIRED velora_studio_npm
    ENVIRONMENT "VELORA_STUDIO_DIR=${VELORA_WEB_DIR}/studio;STUDIO_NODE_MODULES=${CMAKE_BINARY_DIR}/studio-node/node_modules")

# The page's script and the previewer's must round-trip: the browser tests
# run the previewer when it is built.
set(velora_preview_argument)
if(TARGET velora_previewer)
    set(velora_preview_argument --preview $<TARGET_FILE:velora_previewer>)
endif()

add_test(NAME web.studio.browser
    COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/tests/studio/run_browser_tests.py
        --studio ${VELORA_WEB_DIR}/studio
        --web ${PROJECT_SOURCE_DIR}/studio
        --work ${CMAKE_BINARY_DIR}/web-tests
        --node ${VELORA_NODE}
        --npm ${VELORA_NPM}
        --chromium ${VELORA_CHROMIUM}
        ${velora_preview_argument})
set_tests_properties(web.studio.browser PROPERTIES LABELS web TIMEOUT 600)

add_test(NAME web.long_run COMMAND ${VELORA_NODE} ${VELORA_WEB_DIR}/long-run/velora_long_run.js)
set_tests_properties(web.long_run PROPERTIES LABELS web TIMEOUT 300 PASS_REGULAR_EXPRESSION "\\[  PASSED  \\] 1 test")

add_test(NAME web.kit.conformance
    COMMAND ${VELORA_NODE} ${VELORA_WEB_DIR}/kit-conformance/velora_kit_conformance.js)
set_tests_properties(web.kit.conformance PROPERTIES LABELS web TIMEOUT 300
    PASS_REGULAR_EXPRESSION "every operation matches the oracle")

# The kit's pixel work in WebAssembly, SIMD against the portable loops
# (tools/bench/kit_bench.cpp), run once briefly.
add_test(NAME web.kit_bench COMMAND ${VELORA_NODE} ${VELORA_WEB_DIR}/bench/velora_kit_bench.js 0.01)
set_tests_properties(web.kit_bench PROPERTIES LABELS bench TIMEOUT 120
    PASS_REGULAR_EXPRESSION "WebAssembly SIMD against portable")

add_test(NAME web.script.grammar COMMAND ${VELORA_NODE} --test ${PROJECT_SOURCE_DIR}/tests/studio/grammar.test.mjs)
set_tests_properties(web.script.grammar PROPERTIES LABELS web TIMEOUT 120
    ENVIRONMENT VELORA_STUDIO_DIR=${VELORA_WEB_DIR}/studio)
