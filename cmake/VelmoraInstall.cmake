# What `cmake --install` puts in place besides the CMake package (VelmoraPackage.cmake): the
# programs, the desktop integration of the app (desktop entry, AppStream metainfo, icons) and the
# man pages. The install components are the Debian packages' parts (VelmoraDeb.cmake):
#   runtime      bin/anigif, bin/velmora-radio, share/applications, share/metainfo,
#                share/icons, share/man
#   development  the static libraries, headers and CMake package
#   designer     the Qt Designer plugin
#
# The programs link the project's libraries statically and everything else from the system, so
# an installed program needs no RPATH at all: none is set, and the build tree's is removed on
# install (CMake's default, stated here so that nobody adds one pointing into the build).
set(CMAKE_INSTALL_RPATH "")
set(CMAKE_INSTALL_RPATH_USE_LINK_PATH OFF)

set(VELMORA_APP_ID org.velmora.Radio)

install(TARGETS anigif RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}" COMPONENT runtime)
install(FILES "${CMAKE_SOURCE_DIR}/data/man/anigif.1"
        DESTINATION "${CMAKE_INSTALL_MANDIR}/man1" COMPONENT runtime)

if(TARGET velmora-radio)
  install(TARGETS velmora-radio RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}" COMPONENT runtime)
  install(FILES "${CMAKE_SOURCE_DIR}/data/man/velmora-radio.1"
          DESTINATION "${CMAKE_INSTALL_MANDIR}/man1" COMPONENT runtime)
  install(FILES "${CMAKE_SOURCE_DIR}/data/${VELMORA_APP_ID}.desktop"
          DESTINATION "${CMAKE_INSTALL_DATADIR}/applications" COMPONENT runtime)
  install(FILES "${CMAKE_SOURCE_DIR}/data/${VELMORA_APP_ID}.metainfo.xml"
          DESTINATION "${CMAKE_INSTALL_DATADIR}/metainfo" COMPONENT runtime)
  # data/icons/hicolor holds the theme's folders as installed (NxN/apps, scalable/apps).
  install(DIRECTORY "${CMAKE_SOURCE_DIR}/data/icons/hicolor"
          DESTINATION "${CMAKE_INSTALL_DATADIR}/icons" COMPONENT runtime)
endif()
