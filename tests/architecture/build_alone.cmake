# Configures and builds one preset in a tree of its own with the test
# suite's libraries made unfindable, to show that the preset needs none of
# them:
#   cmake -DSOURCE_DIR=... -DBINARY_DIR=... -DPRESET=... -DTARGET=...
#         -DDISABLED=GTest,benchmark -DPRODUCT=<file it must make> -P build_alone.cmake
cmake_minimum_required(VERSION 3.25)

string(REPLACE "," ";" DISABLED "${DISABLED}")
set(disabled_options "")
foreach(package IN LISTS DISABLED)
    list(APPEND disabled_options "-DCMAKE_DISABLE_FIND_PACKAGE_${package}=ON")
endforeach()
file(REMOVE_RECURSE "${BINARY_DIR}")
execute_process(
    COMMAND ${CMAKE_COMMAND} --preset ${PRESET} -B ${BINARY_DIR} ${disabled_options} --log-level=WARNING
    WORKING_DIRECTORY ${SOURCE_DIR}
    RESULT_VARIABLE configured)
if(NOT configured EQUAL 0)
    message(FATAL_ERROR "preset ${PRESET} does not configure without ${DISABLED}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} --build ${BINARY_DIR} --target ${TARGET} RESULT_VARIABLE built)
if(NOT built EQUAL 0 OR NOT EXISTS "${BINARY_DIR}/${PRODUCT}")
    message(FATAL_ERROR "preset ${PRESET} does not build ${PRODUCT} without ${DISABLED}")
endif()
message(STATUS "preset ${PRESET} builds ${PRODUCT} without ${DISABLED}")
