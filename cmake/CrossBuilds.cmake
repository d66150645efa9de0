# The Windows builds of the plug-in, made and checked from the native build.
#
# Each toolchain builds the same sources in a tree of its own below this
# build's folder: windows-i686 is the engine's DLL, whose export and import
# tables are checked, with the unit tests and the console test host and
# stand-in engine modules built for it and run under 32-bit Wine;
# windows-x86_64 is the same code for 64-bit Windows, driven by the same host
# under 64-bit Wine.
include(${CMAKE_CURRENT_LIST_DIR}/NestedBuild.cmake)

find_program(VELORA_I686_OBJDUMP NAMES i686-w64-mingw32-objdump REQUIRED)
find_program(VELORA_X86_64_OBJDUMP NAMES x86_64-w64-mingw32-objdump REQUIRED)
# Debian's wine64 package keeps its launcher out of PATH.
find_program(VELORA_WINE64 NAMES wine64 PATHS /usr/lib/wine /usr/lib64/wine /opt/wine-stable/bin
    REQUIRED)

set(VELORA_WINDOWS_I686_DIR ${CMAKE_BINARY_DIR}/windows-i686)
set(VELORA_WINDOWS_X86_64_DIR ${CMAKE_BINARY_DIR}/windows-x86_64)
# The engine's DLL as shipped: the i686 tree's release zip, unpacked by the
# test windows.i686.release.package (see the end of this file), is what the
# 32-bit tests load.
set(VELORA_RELEASE_FOLDER DrawVelora-${PROJECT_VERSION})
set(VELORA_SHIPPED_DIR ${VELORA_WINDOWS_I686_DIR}/shipped/${VELORA_RELEASE_FOLDER})
set(VELORA_SHIPPED_DLL ${VELORA_SHIPPED_DIR}/DrawVelora.dll)

function(velora_cross_build name toolchain binary_dir)
    velora_nested_build(${name} ${binary_dir}
        -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/toolchains/${toolchain}.cmake
        -DCMAKE_BUILD_TYPE=Release
        -DVELORA_CROSS_TESTS=OFF
        ${ARGN})
endfunction()

# The i686 tree also builds the unit tests (tests/CMakeLists.txt; GoogleTest
# from source) as velora_tests.exe.
velora_cross_build(velora_windows_i686 i686-w64-mingw32 ${VELORA_WINDOWS_I686_DIR}
    -DVELORA_BUILD_TESTS=ON -DVELORA_WINE_HOST=ON)
velora_cross_build(velora_windows_x86_64 x86_64-w64-mingw32 ${VELORA_WINDOWS_X86_64_DIR}
    -DVELORA_BUILD_TESTS=OFF -DVELORA_WINE_HOST=ON)

set(check_exports ${PROJECT_SOURCE_DIR}/tests/dll/plugin/check_exports.cmake)
# Only the system's own DLLs may be imported: no MinGW runtime DLL, no
# api-ms-win-crt forwarders.
set(system_imports "KERNEL32.DLL,WINMM.DLL,MSVCRT.DLL")

# The engine's DLL: 32-bit PE, exactly the nine names, system imports only,
# and the random generator the engine shares: msvcrt.dll's srand and rand.
add_test(NAME windows.i686.exports
    COMMAND ${CMAKE_COMMAND}
        -DMODE=objdump -DTOOL=${VELORA_I686_OBJDUMP} -DFORMAT=pei-i386
        -DLIBRARY=${VELORA_SHIPPED_DLL}
        -DIMPORTS=${system_imports}
        -DFUNCTIONS=MSVCRT.DLL:srand,rand
        -P ${check_exports})

# The build the Wine test loads, held to the same tables.
add_test(NAME windows.x86_64.exports
    COMMAND ${CMAKE_COMMAND}
        -DMODE=objdump -DTOOL=${VELORA_X86_64_OBJDUMP} -DFORMAT=pei-x86-64
        -DLIBRARY=${VELORA_WINDOWS_X86_64_DIR}/DrawVelora.dll
        -DIMPORTS=${system_imports}
        -P ${check_exports})

# The check itself must notice a wrong name list and a foreign import.
add_test(NAME windows.check_exports.rejects_other_names
    COMMAND ${CMAKE_COMMAND}
        -DMODE=objdump -DTOOL=${VELORA_X86_64_OBJDUMP} -DFORMAT=pei-x86-64
        -DLIBRARY=${VELORA_WINDOWS_X86_64_DIR}/windows-host/MainSystem.dll
        -P ${check_exports})
set_tests_properties(windows.check_exports.rejects_other_names PROPERTIES
    PASS_REGULAR_EXPRESSION "exported names differ")
add_test(NAME windows.check_exports.rejects_other_imports
    COMMAND ${CMAKE_COMMAND}
        -DMODE=objdump -DTOOL=${VELORA_I686_OBJDUMP} -DFORMAT=pei-i386
        -DLIBRARY=${VELORA_WINDOWS_I686_DIR}/DrawVelora.dll
        -DIMPORTS=KERNEL32.DLL,MSVCRT.DLL
        -P ${check_exports})
set_tests_properties(windows.check_exports.rejects_other_imports PROPERTIES
    PASS_REGULAR_EXPRESSION "foreign import WINMM.DLL ")
add_test(NAME windows.check_exports.rejects_missing_functions
    COMMAND ${CMAKE_COMMAND}
        -DMODE=objdump -DTOOL=${VELORA_I686_OBJDUMP} -DFORMAT=pei-i386
        -DLIBRARY=${VELORA_WINDOWS_I686_DIR}/DrawVelora.dll
        -DFUNCTIONS=MSVCRT.DLL:srand,rand,abort,_velora_none
        -P ${check_exports})
set_tests_properties(windows.check_exports.rejects_missing_functions PROPERTIES
    PASS_REGULAR_EXPRESSION "_velora_none is not imported from MSVCRT.DLL")
add_test(NAME windows.check_exports.rejects_other_format
    COMMAND ${CMAKE_COMMAND}
        -DMODE=objdump -DTOOL=${VELORA_X86_64_OBJDUMP} -DFORMAT=pei-i386
        -DLIBRARY=${VELORA_WINDOWS_X86_64_DIR}/DrawVelora.dll
        -P ${check_exports})
set_tests_properties(windows.check_exports.rejects_other_format PROPERTIES
    PASS_REGULAR_EXPRESSION "file format pei-x86-64, not pei-i386")

# The 64-bit build driven end to end by the test host, in a fresh Wine prefix.
# Wine takes Windows paths; its drive Z: is the Unix root.
# run_under_wine.sh ends each run itself a little before the test's timeout,
# so that nothing of the prefix outlives the test; a run passes only with its
# summary line.
set(host_summary "[0-9]+ passed, 0 failed")
add_test(NAME windows.wine.end_to_end
    COMMAND sh ${PROJECT_SOURCE_DIR}/tests/wine/run_under_wine.sh --timeout 200 --summary "${host_summary}"
        ${VELORA_WINE64} ${VELORA_WINDOWS_X86_64_DIR}/windows-host/wine_host.exe
        Z:${VELORA_WINDOWS_X86_64_DIR}/DrawVelora.dll)
# The host exits non-zero on any failed check; a FAILED line fails it too.
set_tests_properties(windows.wine.end_to_end PROPERTIES
    TIMEOUT 240
    FAIL_REGULAR_EXPRESSION "FAILED")

# The engine's own platform: the unit tests and the test host built for i686
# and run against the i686 DLL under 32-bit Wine, in a fresh 32-bit prefix.
# Where 32-bit Wine cannot be had, both are skipped (exit status 77).
set(run_under_wine32 sh ${PROJECT_SOURCE_DIR}/tests/wine/run_under_wine.sh --win32 --timeout 540)
add_test(NAME windows.i686.unit_tests
    COMMAND ${run_under_wine32} --summary [=[^\[  PASSED  \] [0-9]+ tests?\.]=]
        ${VELORA_WINE32} ${VELORA_WINDOWS_I686_DIR}/tests/velora_tests.exe)
add_test(NAME windows.i686.end_to_end
    COMMAND ${run_under_wine32} --summary "${host_summary}"
        ${VELORA_WINE32} ${VELORA_WINDOWS_I686_DIR}/windows-host/wine_host.exe
        Z:${VELORA_SHIPPED_DLL})
# A program that crashes under 32-bit Wine fails its run with the exception
# code, at once, and starts no debugger.
add_test(NAME windows.i686.crash_is_a_failure
    COMMAND sh ${PROJECT_SOURCE_DIR}/tests/wine/crash_is_a_failure.sh --win32
        ${VELORA_WINE32} ${VELORA_WINDOWS_I686_DIR}/windows-host/crash_probe.exe)
set_tests_properties(windows.i686.unit_tests windows.i686.end_to_end PROPERTIES
    TIMEOUT 600
    SKIP_RETURN_CODE 77
    FAIL_REGULAR_EXPRESSION "FAILED")
set_tests_properties(windows.i686.crash_is_a_failure PROPERTIES
    TIMEOUT 300
    SKIP_RETURN_CODE 77
    FAIL_REGULAR_EXPRESSION "FAILED")

# Every test of this file, for `ctest -L windows`.
set_tests_properties(windows.i686.exports windows.x86_64.exports
    windows.check_exports.rejects_other_names windows.check_exports.rejects_other_imports
    windows.check_exports.rejects_missing_functions windows.check_exports.rejects_other_format
    windows.wine.end_to_end windows.i686.unit_tests windows.i686.end_to_end
    windows.i686.crash_is_a_failure
    PROPERTIES LABELS windows)

# The release zip (cmake/ReleasePackage.cmake, made by the i686 tree), checked
# as a user receives it and unpacked for the tests that load the shipped DLL
# or open the shipped studio file: its entries (DLL, debug file, studio file,
# the guides, picture, sums) with fixed time and mode, SHA256SUMS matching,
# the stripped DLL at most 128 KB, no HTML file naming the folders it was
# built in.
include(${CMAKE_CURRENT_LIST_DIR}/Guides.cmake)
velora_guide_names(guide_names)
list(JOIN guide_names "," guide_names)
find_package(Python3 COMPONENTS Interpreter REQUIRED)
find_program(VELORA_I686_ADDR2LINE NAMES i686-w64-mingw32-addr2line REQUIRED)
add_test(NAME windows.i686.release.package
    COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/tests/release/check_package.py
        ${VELORA_WINDOWS_I686_DIR}/dist/${VELORA_RELEASE_FOLDER}-win32.zip ${VELORA_RELEASE_FOLDER}
        ${VELORA_WINDOWS_I686_DIR}/shipped 131072 --guides ${guide_names}
        --forbid ${PROJECT_SOURCE_DIR} --forbid ${CMAKE_BINARY_DIR})
set_tests_properties(windows.i686.release.package PROPERTIES
    FIXTURES_SETUP velora_shipped_dll
    FAIL_REGULAR_EXPRESSION "FAILED")

# The shipped DLL imports exactly the functions of the table in
# docs/release.md, each one there since Windows XP or earlier; the check
# notices an unlisted one.
add_test(NAME windows.i686.release.imports
    COMMAND ${CMAKE_COMMAND} -DTOOL=${VELORA_I686_OBJDUMP} -DLIBRARY=${VELORA_SHIPPED_DLL}
        -DDOC=${PROJECT_SOURCE_DIR}/docs/release.md -P ${PROJECT_SOURCE_DIR}/tests/release/check_imports.cmake)
add_test(NAME windows.check_imports.rejects_unlisted
    COMMAND ${CMAKE_COMMAND} -DTOOL=${VELORA_X86_64_OBJDUMP}
        -DLIBRARY=${VELORA_WINDOWS_X86_64_DIR}/DrawVelora.dll
        -DDOC=${PROJECT_SOURCE_DIR}/docs/release.md -P ${PROJECT_SOURCE_DIR}/tests/release/check_imports.cmake)
set_tests_properties(windows.check_imports.rejects_unlisted PROPERTIES
    PASS_REGULAR_EXPRESSION "imported but not listed: [A-Z]")

# A crash address in the shipped DLL, as a module offset, turned into the
# function and line by addr2line through the DLL's .gnu_debuglink.
add_test(NAME windows.i686.release.addr2line
    COMMAND ${CMAKE_COMMAND} -DOBJDUMP=${VELORA_I686_OBJDUMP} -DADDR2LINE=${VELORA_I686_ADDR2LINE}
        -DLIBRARY=${VELORA_SHIPPED_DLL} -DEXPORT=Start -DSOURCE=dll/plugin/control_exports.cpp
        -DSOURCE_DIR=${PROJECT_SOURCE_DIR} -P ${PROJECT_SOURCE_DIR}/tests/release/addr2line.cmake)

# The same sources copied to another folder and built and packed again give
# the same zip, byte for byte (DLL, debug file and zip alike).
add_test(NAME windows.i686.release.reproducible
    COMMAND sh ${PROJECT_SOURCE_DIR}/tests/release/reproducible_release.sh ${PROJECT_SOURCE_DIR}
        ${VELORA_WINDOWS_I686_DIR}/dist/${VELORA_RELEASE_FOLDER}-win32.zip)
set_tests_properties(windows.i686.release.reproducible PROPERTIES TIMEOUT 600)

# The shipped studio file opened from disk in Debian's Chromium and Firefox
# ESR, in English and in Japanese: the everyday flow, nothing loaded from the
# network, the time to the first frame (tests/studio/studio_file.test.mjs).
if(VELORA_WEB_TESTS)
    find_program(VELORA_NODE NAMES node nodejs REQUIRED)
    find_program(VELORA_NPM NAMES npm REQUIRED)
    find_program(VELORA_CHROMIUM NAMES chromium PATHS /usr/bin NO_DEFAULT_PATH REQUIRED)
    find_program(VELORA_FIREFOX NAMES firefox-esr PATHS /usr/bin NO_DEFAULT_PATH REQUIRED)
    add_test(NAME web.studio.release_file
        COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/tests/studio/run_file_tests.py
            --file ${VELORA_SHIPPED_DIR}/DrawVelora-studio.html
            --web ${PROJECT_SOURCE_DIR}/studio
            --work ${CMAKE_BINARY_DIR}/studio-file-tests
            --node ${VELORA_NODE} --npm ${VELORA_NPM}
            --chromium ${VELORA_CHROMIUM} --firefox ${VELORA_FIREFOX}
            --timeout 840)
    set_tests_properties(web.studio.release_file PROPERTIES
        LABELS web
        TIMEOUT 900
        FIXTURES_REQUIRED velora_shipped_dll)
endif()

set_tests_properties(windows.i686.exports windows.i686.end_to_end windows.i686.release.imports
    windows.i686.release.addr2line PROPERTIES FIXTURES_REQUIRED velora_shipped_dll)
set_tests_properties(windows.i686.release.package windows.i686.release.imports
    windows.check_imports.rejects_unlisted windows.i686.release.addr2line
    windows.i686.release.reproducible PROPERTIES LABELS windows)

# --- The i686 DLL proven as an engine uses it, under 32-bit Wine ------------
# (skipped, exit status 77, where 32-bit Wine cannot run)
set(velora_i686_wine_dir ${VELORA_WINDOWS_I686_DIR}/windows-host)
set(velora_i686_dll Z:${VELORA_SHIPPED_DLL})

# Loaded, driven and unloaded 1 000 times: each load starts empty, does what
# the first did, and leaves neither memory nor thread-local slots behind.
add_test(NAME windows.i686.load_unload_soak
    COMMAND ${run_under_wine32} ${VELORA_WINE32} ${velora_i686_wine_dir}/soak.exe ${velora_i686_dll} 1000)

# Groups of short runs share one prefix through run_each.exe: under qemu
# setting a prefix up takes far longer than the runs themselves.
set(velora_i686_run_each ${run_under_wine32} ${VELORA_WINE32} ${velora_i686_wine_dir}/run_each.exe)

# The floating-point state engines leave behind (x87 precision 24 bits;
# flush-to-zero and denormals-are-zero): one seeded session through the DLL
# compared with the default state, then the end-to-end host and the seeded
# long run with its pinned digests, each whole under each state (they fail
# when the state was not in force until their exit).
add_test(NAME windows.i686.fp_state
    COMMAND ${velora_i686_run_each} Z:${velora_i686_wine_dir}/fp_state.exe ${velora_i686_dll}
        --then Z:${velora_i686_wine_dir}/wine_host_fp1.exe ${velora_i686_dll}
        --then Z:${velora_i686_wine_dir}/wine_host_fp2.exe ${velora_i686_dll}
        --then Z:${VELORA_WINDOWS_I686_DIR}/tests/velora_long_run_fp1.exe
        --then Z:${VELORA_WINDOWS_I686_DIR}/tests/velora_long_run_fp2.exe)

# The validator's seeded hostile host, built for i686, against the DLL; then
# its reports against a library that misbehaves on purpose: an access
# violation inside the plug-in is a crash (status 2) with its seed and call
# number, a call that does not return a hang (status 3).
set(velora_i686_validator Z:${VELORA_WINDOWS_I686_DIR}/validator/velora_validator.exe)
set(velora_i686_rogue --plugin Z:${VELORA_WINDOWS_I686_DIR}/validator/rogue.dll --calls 10)
# Under qemu-i386 Wine's own signals arrive wrongly now and then (a fault
# Wine would handle becomes a fatal illegal instruction), which a run of
# 200 000 calls with fault handlers of its own meets: there it is skipped.
set(velora_i686_run_each_native ${run_under_wine32}
    --not-under-qemu "its fault handlers need the exceptions Wine raises, which qemu-i386 does not always deliver"
    ${VELORA_WINE32} ${velora_i686_wine_dir}/run_each.exe)
add_test(NAME windows.i686.validator
    COMMAND ${velora_i686_run_each_native} ${velora_i686_validator} --seed 1 --calls ${VELORA_WINDOWS_VALIDATOR_CALLS}
            --plugin ${velora_i686_dll}
            --modules Z:${VELORA_WINDOWS_I686_DIR}/validator/modules
            --bare-modules Z:${VELORA_WINDOWS_I686_DIR}/validator/bare-modules
        --then --expect 2 --env VELORA_ROGUE=crash ${velora_i686_validator} ${velora_i686_rogue}
        --then --expect 3 --env VELORA_ROGUE=hang ${velora_i686_validator} ${velora_i686_rogue} --call-limit 2)
# (A pass pattern makes CTest ignore the exit status: run_each's verdict
# lines carry it. No semicolon in it: CMake would split it into a list.
# Where qemu-i386 runs Wine, the null write reaches Wine as an illegal
# instruction rather than an access violation.)
set_tests_properties(windows.i686.validator PROPERTIES PASS_REGULAR_EXPRESSION
    "seed 1, [0-9]+ calls, 0 faults.*run_each: ok +[^\n]*with status 0\n.*FAULT: crash \\((access violation, code 0xC0000005 at 0x[0-9A-F]+, writing 0x00000000|illegal instruction, code 0xC000001D at 0x[0-9A-F]+)\\) in call 0 \\(Init\\). replay: velora_validator --seed 1 --calls 0.*run_each: ok +[^\n]*with status 2\n.*FAULT: hang \\(no return within 2 s\\) in call 0 \\(Init\\).*run_each: ok +[^\n]*with status 3\n")

set(velora_i686_proofs windows.i686.load_unload_soak windows.i686.fp_state windows.i686.validator)
set_tests_properties(${velora_i686_proofs} PROPERTIES
    TIMEOUT 600
    SKIP_RETURN_CODE 77
    FAIL_REGULAR_EXPRESSION "FAILED"
    LABELS windows
    FIXTURES_REQUIRED velora_shipped_dll)
