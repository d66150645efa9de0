# The release of the engine's plug-in (32-bit Windows builds only), one zip,
#   ${VELORA_DIST_DIR}/DrawVelora-<version>-win32.zip
# with one folder DrawVelora-<version>/ holding the stripped DrawVelora.dll,
# its DrawVelora.dll.debug, the effect studio as one file that opens from disk
# (DrawVelora-studio.html), the guides for script authors as HTML
# (GUIDE.html, GUIDE.<language>.html), the modes picture and SHA256SUMS, whose
# bytes depend on those files' contents only (cmake/package_release.py). The
# workflow preset "release" makes it in dist/ of the checkout; the preset
# "windows-i686" builds the DLL alone (VELORA_RELEASE_ZIP off).
if(NOT VELORA_RELEASE_ZIP)
    return()
endif()
find_package(Python3 COMPONENTS Interpreter REQUIRED)
include(${PROJECT_SOURCE_DIR}/cmake/NestedBuild.cmake)
include(${PROJECT_SOURCE_DIR}/cmake/Guides.cmake)

set(VELORA_RELEASE_NAME DrawVelora-${PROJECT_VERSION})
set(VELORA_RELEASE_ZIP ${VELORA_DIST_DIR}/${VELORA_RELEASE_NAME}-win32.zip)

# The studio file: the same sources built with Emscripten in a tree of their
# own (only the single file's target: the WebAssembly linked into its script,
# the page bundled by esbuild; studio/CMakeLists.txt).
find_file(VELORA_EMSCRIPTEN_TOOLCHAIN Emscripten.cmake
    PATHS /usr/share/emscripten/cmake/Modules/Platform NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH REQUIRED)
set(studio_web_dir ${CMAKE_BINARY_DIR}/studio-web)
set(studio_file ${studio_web_dir}/studio/DrawVelora-studio.html)
velora_nested_build(velora_release_studio ${studio_web_dir}
    -DCMAKE_TOOLCHAIN_FILE=${VELORA_EMSCRIPTEN_TOOLCHAIN}
    -DCMAKE_BUILD_TYPE=Release
    -DVELORA_BUILD_TESTS=OFF
    -DVELORA_NODE_PATH=${VELORA_NODE_PATH}
    TARGETS velora_studio_file
    BYPRODUCTS ${studio_file})

# The zip's files, in their order; the guides may link to the others.
set(package_names DrawVelora.dll DrawVelora.dll.debug DrawVelora-studio.html)
set(picture ${PROJECT_SOURCE_DIR}/docs/modes.png)
velora_guides(velora_release_guides ${CMAKE_BINARY_DIR}/guides BESIDE ${package_names} modes.png)
set(package_files
    DrawVelora.dll=$<TARGET_FILE:DrawVelora>
    DrawVelora.dll.debug=$<TARGET_FILE:DrawVelora>.debug
    DrawVelora-studio.html=${studio_file})
foreach(guide IN LISTS VELORA_GUIDE_FILES)
    get_filename_component(name ${guide} NAME)
    list(APPEND package_files ${name}=${guide})
endforeach()
list(APPEND package_files modes.png=${picture})

set(package_script ${PROJECT_SOURCE_DIR}/cmake/package_release.py)
add_custom_command(OUTPUT ${VELORA_RELEASE_ZIP}
    COMMAND ${Python3_EXECUTABLE} ${package_script} ${VELORA_RELEASE_ZIP} ${VELORA_RELEASE_NAME} ${package_files}
    DEPENDS DrawVelora velora_release_studio ${studio_file} velora_release_guides ${VELORA_GUIDE_FILES}
        ${package_script} ${PROJECT_SOURCE_DIR}/cmake/build_files.py ${picture}
    COMMENT "Packaging ${VELORA_RELEASE_ZIP}"
    VERBATIM)
add_custom_target(velora_release ALL DEPENDS ${VELORA_RELEASE_ZIP})
