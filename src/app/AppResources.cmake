# The application's resources: translations, help page, icons, desktop entry,
# MIME type and AppStream metadata. Those the application reads go to share/lumivane in the build
# tree as in an install, so it finds them relative to its executable.
set(LUMIVANE_RESOURCE_DIR ${PROJECT_SOURCE_DIR}/resources)

# lumivane_copy_resource(<target list var> <source> <destination>)
function(lumivane_copy_resource outputs source destination)
    add_custom_command(OUTPUT ${destination}
        COMMAND ${CMAKE_COMMAND} -E copy_if_different ${source} ${destination}
        DEPENDS ${source})
    set(${outputs} ${${outputs}} ${destination} PARENT_SCOPE)
endfunction()

set(LUMIVANE_TS_FILES ${LUMIVANE_RESOURCE_DIR}/translations/lumivane_en.ts)
set_source_files_properties(${LUMIVANE_TS_FILES}
    PROPERTIES OUTPUT_LOCATION ${LUMIVANE_SHARE_DIR}/translations)
qt6_add_translation(LUMIVANE_QM_FILES ${LUMIVANE_TS_FILES})

set(LUMIVANE_APP_RESOURCES ${LUMIVANE_QM_FILES})
lumivane_copy_resource(LUMIVANE_APP_RESOURCES ${LUMIVANE_RESOURCE_DIR}/help/index.html
    ${LUMIVANE_SHARE_DIR}/help/index.html)
foreach(icon Lumivane LumivaneWorking)
    lumivane_copy_resource(LUMIVANE_APP_RESOURCES ${LUMIVANE_RESOURCE_DIR}/icons/${icon}.png
        ${LUMIVANE_SHARE_DIR}/icons/${icon}.png)
endforeach()
add_custom_target(lumivane_app_resources ALL DEPENDS ${LUMIVANE_APP_RESOURCES})
add_dependencies(Lumivane lumivane_app_resources lumivane_compositions)

install(FILES ${LUMIVANE_QM_FILES} DESTINATION share/lumivane/translations)
install(FILES ${LUMIVANE_RESOURCE_DIR}/help/index.html DESTINATION share/lumivane/help)
install(FILES ${LUMIVANE_RESOURCE_DIR}/icons/Lumivane.png ${LUMIVANE_RESOURCE_DIR}/icons/LumivaneWorking.png
    DESTINATION share/lumivane/icons)
install(FILES ${LUMIVANE_RESOURCE_DIR}/icons/Lumivane.svg
    DESTINATION share/icons/hicolor/scalable/apps RENAME lumivane.svg)
install(FILES ${LUMIVANE_RESOURCE_DIR}/icons/Lumivane.png
    DESTINATION share/icons/hicolor/256x256/apps RENAME lumivane.png)
install(FILES ${LUMIVANE_RESOURCE_DIR}/desktop/lumivane.desktop DESTINATION share/applications)
install(FILES ${LUMIVANE_RESOURCE_DIR}/desktop/lumivane.xml DESTINATION share/mime/packages)

# The software centre's entry, with the project's version and release date.
set(LUMIVANE_METAINFO ${CMAKE_BINARY_DIR}/share/metainfo/org.lumivane.Lumivane.metainfo.xml)
configure_file(${LUMIVANE_RESOURCE_DIR}/desktop/org.lumivane.Lumivane.metainfo.xml.in
    ${LUMIVANE_METAINFO} @ONLY)
install(FILES ${LUMIVANE_METAINFO} DESTINATION share/metainfo)

# Its manual page, installed gzipped.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(LUMIVANE_APP_MANPAGE ${CMAKE_BINARY_DIR}/man/Lumivane.1)
add_custom_command(OUTPUT ${LUMIVANE_APP_MANPAGE}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
    COMMAND Python3::Interpreter ${PROJECT_SOURCE_DIR}/tools/make_manpage.py --application
            ${LUMIVANE_APP_MANPAGE} ${PROJECT_VERSION} ${LUMIVANE_RELEASE_DATE}
    COMMAND gzip -9nkf ${LUMIVANE_APP_MANPAGE}
    DEPENDS ${PROJECT_SOURCE_DIR}/tools/make_manpage.py)
add_custom_target(lumivane_app_manpage ALL DEPENDS ${LUMIVANE_APP_MANPAGE}.gz)
install(FILES ${LUMIVANE_APP_MANPAGE}.gz DESTINATION share/man/man1)
