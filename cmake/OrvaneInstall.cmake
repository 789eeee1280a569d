# Install rules and the Debian package.
#
#   cmake --install build [--prefix /some/prefix]      (DESTDIR is honoured)
#   scripts/package.sh                                 → build/orvane_<version>_<arch>.deb
#
# The layout below the prefix (ORVANE_INSTALL_*DIR, set at the top) is the one the program
# recognises around its own path, so it runs from any prefix without configuration:
#   bin/orvane, bin/orvanectl
#   lib/orvane/      decoder module, liblrcdown.so, bugreport, plugins/ (and the updater's place)
#   share/orvane/    effect.dat, demo/
# plus the desktop's shared folders: applications/, icons/hicolor/, mime/packages/, metainfo/,
# man/man1/, doc/orvane/, and include/orvane/ for plug-in authors.
#
# Targets that other parts of the tree add (orvanectl, bugreport) and the public plug-in header are
# installed when they exist.

include(GNUInstallDirs)

set(ORVANE_APP_ID "org.orvane.orvane" CACHE STRING "AppStream component id")
set(ORVANE_MAINTAINER "Orvane developers <packages@orvane.example>" CACHE STRING "Package maintainer")
execute_process(COMMAND date -R -u -d "${ORVANE_RELEASE_DATE}"
  OUTPUT_VARIABLE ORVANE_RELEASE_DATE_RFC2822 OUTPUT_STRIP_TRAILING_WHITESPACE)

set(packaging_src ${CMAKE_SOURCE_DIR}/packaging)
set(packaging_out ${CMAKE_BINARY_DIR}/packaging)

# --- Files made at build time: the metainfo and manual pages with the version filled in, the
# compressed manual pages and changelog, the icon's PNG sizes.
configure_file(${packaging_src}/orvane.metainfo.xml.in ${packaging_out}/${ORVANE_APP_ID}.metainfo.xml @ONLY)
configure_file(${packaging_src}/changelog.in ${packaging_out}/changelog @ONLY)
set(manual_pages orvane)
if(TARGET orvanectl)
  list(APPEND manual_pages orvanectl)
endif()
set(gzipped)
foreach(page IN LISTS manual_pages)
  configure_file(${packaging_src}/${page}.1 ${packaging_out}/${page}.1 @ONLY)
  list(APPEND gzipped ${packaging_out}/${page}.1)
endforeach()
list(APPEND gzipped ${packaging_out}/changelog)
set(gzipped_outputs)
foreach(file IN LISTS gzipped)
  # -n: no name or time stamp inside, so the package is reproducible.
  add_custom_command(OUTPUT ${file}.gz
    COMMAND sh -c "gzip -9n -c \"$1\" > \"$2\"" sh ${file} ${file}.gz
    DEPENDS ${file} VERBATIM)
  list(APPEND gzipped_outputs ${file}.gz)
endforeach()

# The icon: our SVG artwork, and PNG renderings of it for desktops that want pixels, made by a
# small Qt program (QSvgRenderer) at build time.
set(icon_svg ${CMAKE_SOURCE_DIR}/assets/orvane.svg)
set(icon_sizes 16 22 24 32 48 64 128 256)
find_package(Qt6 REQUIRED COMPONENTS Gui Svg)
add_executable(orvane_render_icon ${packaging_src}/render_icon.cpp)
target_link_libraries(orvane_render_icon PRIVATE Qt6::Gui Qt6::Svg)
set_target_properties(orvane_render_icon PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${packaging_out})
set(icon_pngs)
foreach(size IN LISTS icon_sizes)
  list(APPEND icon_pngs ${packaging_out}/icons/${size}/orvane.png)
endforeach()
add_custom_command(OUTPUT ${icon_pngs}
  COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=0
          $<TARGET_FILE:orvane_render_icon> ${icon_svg} ${packaging_out}/icons ${icon_sizes}
  DEPENDS orvane_render_icon ${icon_svg}
  COMMENT "Rendering the application icon")
# In the build tree the icon also sits beside the program, where the desktop entries the player
# writes for itself look for it.
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/bin/orvane.svg
  COMMAND ${CMAKE_COMMAND} -E copy_if_different ${icon_svg} ${CMAKE_BINARY_DIR}/bin/orvane.svg
  DEPENDS ${icon_svg})
add_custom_target(orvane_packaging_files ALL
  DEPENDS ${gzipped_outputs} ${icon_pngs} ${CMAKE_BINARY_DIR}/bin/orvane.svg)

# --- Programs, modules, data.
install(TARGETS orvane RUNTIME DESTINATION ${ORVANE_INSTALL_BINDIR})
if(TARGET orvanectl)
  install(TARGETS orvanectl RUNTIME DESTINATION ${ORVANE_INSTALL_BINDIR})
endif()
install(TARGETS orvane_decode lrcdown LIBRARY DESTINATION ${ORVANE_INSTALL_MODULEDIR})
if(TARGET orvane_player)
  # The player itself, which the small program in bin/ loads when it is the first instance.
  install(TARGETS orvane_player LIBRARY DESTINATION ${ORVANE_INSTALL_MODULEDIR})
endif()
if(TARGET bugreport)
  install(TARGETS bugreport RUNTIME DESTINATION ${ORVANE_INSTALL_MODULEDIR})
endif()
install(DIRECTORY DESTINATION ${ORVANE_INSTALL_MODULEDIR}/plugins)
install(FILES ${CMAKE_SOURCE_DIR}/assets/effect.dat DESTINATION ${ORVANE_INSTALL_DATADIR})
if(TARGET orvane_demo)
  install(DIRECTORY ${CMAKE_BINARY_DIR}/bin/demo DESTINATION ${ORVANE_INSTALL_DATADIR})
endif()
if(EXISTS ${CMAKE_SOURCE_DIR}/src/plugins/UPluginAPI.h)
  install(FILES ${CMAKE_SOURCE_DIR}/src/plugins/UPluginAPI.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/orvane)
endif()

# --- The desktop's shared folders.
install(FILES ${packaging_src}/orvane.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${icon_svg} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
foreach(size IN LISTS icon_sizes)
  install(FILES ${packaging_out}/icons/${size}/orvane.png
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()
install(FILES ${packaging_src}/orvane-mime.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages RENAME orvane.xml)
install(FILES ${packaging_out}/${ORVANE_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
foreach(page IN LISTS manual_pages)
  install(FILES ${packaging_out}/${page}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
# The package's name, as Debian wants it (GNUInstallDirs would take the project's, "Orvane").
install(FILES ${packaging_src}/copyright ${packaging_out}/changelog.gz DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/orvane)

# --- The Debian package (CPack), for scripts/package.sh. Its dependencies are worked out from the
# binaries (dpkg-shlibdeps); what the program loads by name at run time (QML modules, Qt's SVG
# image plug-in, the CJK font) no binary names, so it is listed here.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME orvane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${ORVANE_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://${ORVANE_HOME_HOST}/")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_POST_BUILD_SCRIPTS ${packaging_src}/without-ldconfig.cmake)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
  "qml6-module-qtquick, qml6-module-qtquick-window, qml6-module-qtqml-workerscript, libqt6svg6, fonts-noto-cjk")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "small, good-looking music player with desktop lyrics
Orvane keeps a music list and an online random list, plays in three modes
(normal, loop over the list, repeat one song), has a ten-band equaliser with
presets, and shows the current line of a song's lyrics on the desktop as
outlined gradient text. It lives in the tray, can start with the desktop,
opens 21 audio file types and can be driven by other programs.

Its interface is in Chinese, and in English on English desktops.")
include(CPack)
