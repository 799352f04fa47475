# Debian packages through CPack (each component's description opens with its
# synopsis line): lumivane-cli (the renderer, the joiner, the
# farm script and the image-file module, without Qt, for farm nodes) and
# lumivane (the application, depending on the first). `cpack` in the build
# tree, or `tools/setup.sh --package`, writes them into packages/.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME lumivane)
set(CPACK_PACKAGE_VENDOR "The Lumivane developers")
set(CPACK_PACKAGE_CONTACT "The Lumivane developers <lumivane@orbek.net>")
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# Only the real packages' staging areas, not a tarball of sources.
set(CPACK_SOURCE_GENERATOR "")

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${PROJECT_HOMEPAGE_URL}")
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)

# libepoxy opens EGL and GL at run time, and libglvnd then Mesa's EGL and its
# llvmpipe driver, so no binary names them; a machine without a GPU renders
# through them.
set(CPACK_DEBIAN_CLI_PACKAGE_NAME lumivane-cli)
set(CPACK_DEBIAN_CLI_PACKAGE_SECTION video)
set(CPACK_DEBIAN_CLI_PACKAGE_DEPENDS "libegl1, libgl1, libegl-mesa0, libgl1-mesa-dri")
set(CPACK_COMPONENT_CLI_DESCRIPTION "command-line renderer of compositions to movies
LumivaneCLI renders a composition (a time-based GPU program with typed
published inputs) offscreen into a QuickTime movie or a numbered image
sequence (PNG, JPEG, JPEG-2000, TIFF, OpenEXR) at an exact size, frame
rate and duration, with anti-aliasing and motion blur. It runs headless,
through Mesa's llvmpipe or a GPU's EGL driver.

LumivaneJoin joins chunk renders, and lumivane-submit splits a render
across a Slurm cluster or local processes. This package holds no
graphical interface, for render-farm nodes.")

set(CPACK_DEBIAN_APP_PACKAGE_NAME lumivane)
set(CPACK_DEBIAN_APP_PACKAGE_SECTION graphics)
set(CPACK_COMPONENT_APP_DEPENDS cli)
set(CPACK_COMPONENT_APP_DESCRIPTION "composition previewer and movie renderer
Lumivane is the desktop application for compositions: drop one on its
window to preview it live, edit its published inputs, choose size,
timing, codec and quality, and render it to a movie or an image
sequence with the command-line renderer from lumivane-cli.")

# Built without the application there is one component, which CPack packs as
# the project's single package: it takes lumivane-cli's name and fields.
if(NOT LUMIVANE_BUILD_APP)
    set(CPACK_PACKAGE_NAME lumivane-cli)
    foreach(field PACKAGE_NAME PACKAGE_SECTION PACKAGE_DEPENDS)
        set(CPACK_DEBIAN_${field} "${CPACK_DEBIAN_CLI_${field}}")
    endforeach()
    set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "${CPACK_COMPONENT_CLI_DESCRIPTION}")
endif()

# Each package carries its copyright file and changelog, as Debian wants.
execute_process(COMMAND date -u -R -d "${LUMIVANE_RELEASE_DATE}"
    OUTPUT_VARIABLE LUMIVANE_RELEASE_DATE_RFC2822 OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
set(LUMIVANE_CHANGELOG ${CMAKE_BINARY_DIR}/packaging/changelog)
configure_file(${PROJECT_SOURCE_DIR}/resources/packaging/changelog.in ${LUMIVANE_CHANGELOG} @ONLY)
add_custom_command(OUTPUT ${LUMIVANE_CHANGELOG}.gz
    COMMAND gzip -9nkf ${LUMIVANE_CHANGELOG}
    DEPENDS ${LUMIVANE_CHANGELOG})
add_custom_target(lumivane_changelog ALL DEPENDS ${LUMIVANE_CHANGELOG}.gz)

function(lumivane_package_docs component package)
    install(FILES ${PROJECT_SOURCE_DIR}/resources/packaging/copyright ${LUMIVANE_CHANGELOG}.gz
        DESTINATION share/doc/${package} COMPONENT ${component})
endfunction()
lumivane_package_docs(cli lumivane-cli)
if(LUMIVANE_BUILD_APP)
    lumivane_package_docs(app lumivane)
endif()
include(CPack)
