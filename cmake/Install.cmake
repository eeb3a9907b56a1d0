# cmake --install and cpack -G DEB. The program finds its files relative to its executable: the
# language files in ../share/wavestitch/WSLanguage/ and the modules in ../lib/wavestitch/, so these
# folders are fixed, whatever the platform's usual library folder (see src/platform/InstallLayout.h).
include(GNUInstallDirs)

set(WAVESTITCH_APP_ID io.github.wavestitch.Wavestitch)
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

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME wavestitch)
set(CPACK_PACKAGE_VENDOR "The Wavestitch developers")
set(CPACK_PACKAGE_CONTACT "The Wavestitch developers <wavestitch@users.noreply.github.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "join WAV, MP3 and WMA files into one audio file")
set(CPACK_PACKAGE_DESCRIPTION
    "Wavestitch builds an ordered list of WAV, MP3 and WMA files, decodes every
input, raises it to one common sample format and appends it, and writes the
result as WAV or encodes it to MP3 or WMA. wavestitch-join joins from scripts
on the same engine.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://github.com/wavestitch/wavestitch)
# The libraries come from dpkg-shlibdeps; Qt's platform plugins are loaded at run time, and no
# window opens without them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# FFmpeg too is opened by its soname when first needed, which dpkg-shlibdeps cannot see either.
set(ffmpeg_packages)
foreach(lib avformat avcodec swresample avutil)
    string(REGEX MATCH "^[0-9]+" major "${FFMPEG_lib${lib}_VERSION}")
    list(APPEND ffmpeg_packages "lib${lib}${major}")
endforeach()
list(JOIN ffmpeg_packages ", " ffmpeg_depends)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, ${ffmpeg_depends}")
# The Chinese, Japanese and Korean language files name the Noto Sans CJK fonts.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS fonts-noto-cjk)
include(CPack)
