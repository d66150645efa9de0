# GoogleTest for the Windows test tree, compiled from the sources Debian's
# googletest package ships (/usr/src/googletest): a cross build has no
# installed GoogleTest to find. Only gtest and gtest_main, as one static
# library under the name the native tree gets from find_package(GTest).
set(VELORA_GTEST_SOURCE_DIR /usr/src/googletest/googletest CACHE PATH
    "GoogleTest's own source folder (the one with src/gtest-all.cc)")
if(NOT EXISTS ${VELORA_GTEST_SOURCE_DIR}/src/gtest-all.cc)
    message(FATAL_ERROR "GoogleTest sources not found in ${VELORA_GTEST_SOURCE_DIR} "
        "(Debian: apt-get install googletest)")
endif()

add_library(velora_gtest STATIC
    ${VELORA_GTEST_SOURCE_DIR}/src/gtest-all.cc
    ${VELORA_GTEST_SOURCE_DIR}/src/gtest_main.cc)
target_include_directories(velora_gtest SYSTEM PUBLIC ${VELORA_GTEST_SOURCE_DIR}/include)
target_include_directories(velora_gtest PRIVATE ${VELORA_GTEST_SOURCE_DIR})
add_library(GTest::gtest_main ALIAS velora_gtest)

# The win32-thread MinGW runtime has no std::mutex, on which GoogleTest builds
# its Notification: give it one of Windows' own (tests/support/gtest_win32).
include(CheckCXXSourceCompiles)
check_cxx_source_compiles("#include <mutex>\nstd::mutex m;\nint main() { return 0; }"
    VELORA_HAS_STD_MUTEX)
if(NOT VELORA_HAS_STD_MUTEX)
    set(notification ${PROJECT_SOURCE_DIR}/tests/support/gtest_win32/notification.h)
    target_sources(velora_gtest PRIVATE ${PROJECT_SOURCE_DIR}/tests/support/gtest_win32/notification.cpp)
    target_compile_options(velora_gtest PUBLIC "SHELL:-include ${notification}")
endif()
