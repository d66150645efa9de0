# The release of the engine's plug-in (32-bit Windows builds only): the
# stripped DrawVelora.dll, its DrawVelora.dll.debug, the guide for script
# authors with its picture, and SHA256SUMS, in one zip,
#   ${VELORA_DIST_DIR}/DrawVelora-<version>-win32.zip
# whose bytes depend on those files' contents only (cmake/package_release.py).
# The workflow preset "release" makes it in dist/ of the checkout.
find_package(Python3 COMPONENTS Interpreter REQUIRED)

set(VELORA_RELEASE_NAME DrawVelora-${PROJECT_VERSION})
set(VELORA_RELEASE_ZIP ${VELORA_DIST_DIR}/${VELORA_RELEASE_NAME}-win32.zip)

set(package_script ${PROJECT_SOURCE_DIR}/cmake/package_release.py)
set(guide ${PROJECT_SOURCE_DIR}/docs/GUIDE.md)
set(picture ${PROJECT_SOURCE_DIR}/docs/modes.png)
add_custom_command(OUTPUT ${VELORA_RELEASE_ZIP}
    COMMAND ${Python3_EXECUTABLE} ${package_script} ${VELORA_RELEASE_ZIP} ${VELORA_RELEASE_NAME}
        DrawVelora.dll=$<TARGET_FILE:DrawVelora>
        DrawVelora.dll.debug=$<TARGET_FILE:DrawVelora>.debug
        GUIDE.md=${guide}
        modes.png=${picture}
    DEPENDS DrawVelora ${package_script} ${guide} ${picture}
    COMMENT "Packaging ${VELORA_RELEASE_ZIP}"
    VERBATIM)
add_custom_target(velora_release ALL DEPENDS ${VELORA_RELEASE_ZIP})
