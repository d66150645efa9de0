# The validator built for 32-bit Windows, run under Wine against the i686
# DLL by the native build's test suite (cmake/CrossBuilds.cmake). The core
# (host, model, driver) is the same; what differs is beneath it: the DLL
# loaded with LoadLibraryA and its clock and allocator imports redirected
# (windows_binary.cpp, windows_interpose.cpp), the modules as DLLs, and the
# fault reports (windows_fault_reports.cpp). Everything links the MinGW
# runtimes statically, for a bare Wine prefix.

add_library(velora_validator_core OBJECT controls.cpp driver.cpp host.cpp windows_binary.cpp)
velora_include_view(velora_validator_core PUBLIC tools/validator)
target_link_libraries(velora_validator_core PUBLIC velora_contract velora_windows_host velora_warnings)

set(module_dir ${CMAKE_CURRENT_BINARY_DIR}/modules)
set(bare_module_dir ${CMAKE_CURRENT_BINARY_DIR}/bare-modules)
set(module_index 0)
foreach(module IN ITEMS MainSystem Graph SurfaceFactory)
    set(export CreateInterface)
    if(module STREQUAL "MainSystem")
        set(export GetInterface)
    endif()
    foreach(variant IN ITEMS full bare)
        set(target velora_validator_${variant}_${module})
        add_library(${target} SHARED modules/windows_host_module.cpp)
        target_link_libraries(${target} PRIVATE velora_contract velora_warnings)
        target_compile_definitions(${target} PRIVATE VELORA_MODULE_INDEX=${module_index})
        target_link_options(${target} PRIVATE -static)
        set(dir ${module_dir})
        if(variant STREQUAL "full")
            target_compile_definitions(${target} PRIVATE VELORA_MODULE_EXPORT=${export})
        else()
            set(dir ${bare_module_dir})
        endif()
        set_target_properties(${target} PROPERTIES
            PREFIX "" OUTPUT_NAME ${module} RUNTIME_OUTPUT_DIRECTORY ${dir} ARCHIVE_OUTPUT_DIRECTORY ${dir})
        list(APPEND validator_modules ${target})
    endforeach()
    math(EXPR module_index "${module_index} + 1")
endforeach()

# The defaults name the build tree as Wine sees it (drive Z: is the root).
add_executable(velora_validator main.cpp windows_interpose.cpp windows_fault_reports.cpp)
target_link_libraries(velora_validator PRIVATE velora_validator_core)
target_link_options(velora_validator PRIVATE -static)
target_compile_definitions(velora_validator PRIVATE
    VELORA_VALIDATOR_PLUGIN="Z:$<TARGET_FILE:DrawVelora>"
    VELORA_VALIDATOR_MODULES="Z:${module_dir}"
    VELORA_VALIDATOR_BARE_MODULES="Z:${bare_module_dir}")
add_dependencies(velora_validator DrawVelora ${validator_modules})
