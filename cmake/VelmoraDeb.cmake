# Debian packages, made with `cpack -G DEB` in the build folder (README, "Installing"):
#   velmora-radio    the install component `runtime`: the app and anigif, the desktop entry,
#                    AppStream metainfo, icons and man pages
#   libvelmora-dev   the components `development` and `designer`: the static libraries, headers
#                    and CMake package, and the Qt Designer plugin
# Someone who listens to the radio needs neither headers nor Designer (the plugin alone would pull
# Qt Designer's libraries in), so those go in the -dev package, as Debian splits libraries.
#
# dpkg-shlibdeps finds the packages of the shared libraries the binaries link; on Debian 12 that
# includes libqt6webenginecore6-bin, the browser process the station page runs in, which
# libqt6webenginecore6's symbols file names. What is loaded by other means is named here: the Qt
# CMake packages the widget's CMake package finds and, recommended, Qt's Wayland platform plugin
# for Wayland sessions (X11's and the offscreen one are in libqt6gui6).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME velmora)
set(CPACK_PACKAGE_VENDOR "The Velmora developers")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime development designer)
set(CPACK_COMPONENT_DEVELOPMENT_GROUP dev)
set(CPACK_COMPONENT_DESIGNER_GROUP dev)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "The Velmora developers")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

# Descriptions: the summary line, then the long text, which CPack indents for the control file.
set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME velmora-radio)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_RECOMMENDS "qt6-wayland")
# The player opens libmpv when a station first plays (app/mpv_library.h), so dpkg-shlibdeps does
# not see it: the package names it after the major version of the libmpv built against
# (libmpv.so.2 is Debian's libmpv2).
find_package(PkgConfig QUIET)
if(PkgConfig_FOUND)
  pkg_check_modules(VELMORA_DEB_MPV QUIET mpv)
endif()
if(VELMORA_DEB_MPV_VERSION MATCHES "^([0-9]+)")
  set(CPACK_DEBIAN_RUNTIME_PACKAGE_DEPENDS "libmpv${CMAKE_MATCH_1}")
endif()
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION "Small internet radio player in a skin window
Velmora radio is a small internet-radio player in a rounded skin window: a
station list and a player (libmpv). Click a station and it plays at once.

The package also holds anigif, a command-line tool that looks into GIF files
(structure, frames, colour indices, timing) with the player's GIF control.")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME libvelmora-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "qt6-base-dev")
set(CPACK_DEBIAN_DEV_DESCRIPTION "ucAniGIF animated-GIF control and its Qt 6 widget (development files)
The ucAniGIF control parses, decodes, composites and animates GIF files in
portable C++20; AniGifWidget hosts it in Qt 6 Widgets. This package holds
the static libraries, the headers under /usr/include/velmora, the CMake
package (find_package(Velmora), targets Velmora::ucAniGIF and
Velmora::AniGifWidget) and the widget's Qt Designer plugin.")

include(CPack)
