# What cmake --install puts where (debian/ packages the same files). The program finds its files
# relative to its executable: the language files in ../share/wavestitch/WSLanguage/ and the modules
# in ../lib/wavestitch/, so these folders are fixed, whatever the platform's usual library folder (see src/platform/InstallLayout.h).
include(GNUInstallDirs)

set(WAVESTITCH_APP_ID example.verdane.wavestitch)
set(linux_files ${CMAKE_SOURCE_DIR}/resources/linux)

install(TARGETS wavestitch wavestitch-join RUNTIME DESTINATION bin)
install(TARGETS lame_enc wmaudsdk LIBRARY DESTINATION lib/wavestitch)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/lang/ DESTINATION share/wavestitch/WSLanguage FILES_MATCHING PATTERN "*.ini")
install(FILES ${linux_files}/${WAVESTITCH_APP_ID}.desktop DESTINATION share/applications)
install(FILES ${linux_files}/${WAVESTITCH_APP_ID}.metainfo.xml DESTINATION share/metainfo)
install(FILES ${CMAKE_SOURCE_DIR}/resources/icons/wavestitch.svg
        DESTINATION share/icons/hicolor/scalable/apps RENAME ${WAVESTITCH_APP_ID}.svg)
foreach(size 16 32 48 64 128 256)
    install(FILES ${CMAKE_SOURCE_DIR}/resources/icons/wavestitch-${size}.png
            DESTINATION share/icons/hicolor/${size}x${size}/apps RENAME ${WAVESTITCH_APP_ID}.png)
endforeach()
# Manual pages are installed compressed, as Debian keeps them.
set(man_pages)
foreach(page wavestitch.1 wavestitch-join.1)
    add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/man/${page}.gz
        COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
        COMMAND gzip -9 -n -c ${CMAKE_SOURCE_DIR}/docs/man/${page} > ${CMAKE_BINARY_DIR}/man/${page}.gz
        DEPENDS ${CMAKE_SOURCE_DIR}/docs/man/${page})
    list(APPEND man_pages ${CMAKE_BINARY_DIR}/man/${page}.gz)
endforeach()
add_custom_target(man_pages ALL DEPENDS ${man_pages})
install(FILES ${man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
