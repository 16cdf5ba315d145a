# Installation layout and the Debian package.
#
#   cmake --install <build> --prefix <dir>     installs into <dir>
#   cpack -G DEB   (in the build directory)     builds orbitune_<version>_<arch>.deb
#
# Files land where desktops look for them: the launcher in share/applications,
# the icon in the hicolor theme, the software-centre entry in share/metainfo.

include(GNUInstallDirs)

# Packaging installs what has been built; it does not first rebuild every
# target (the test suite and benchmarks included). Build, then install/cpack.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(ORBITUNE_REPOSITORY_RAW_URL "https://example.org/orbitune/raw/main"
    CACHE STRING "Web address of the repository's raw files; metainfo screenshots point below it")

set(_desktop_dir ${CMAKE_SOURCE_DIR}/resources/desktop)
set(_icons_dir ${CMAKE_SOURCE_DIR}/resources/icons)
set(_hicolor ${CMAKE_INSTALL_DATADIR}/icons/hicolor)
set(ORBITUNE_ICON_SIZES 16 22 24 32 48 64 128 256)

configure_file(${_desktop_dir}/orbitune.metainfo.xml.in
               ${CMAKE_BINARY_DIR}/orbitune.metainfo.xml @ONLY)

if(TARGET orbitune)
  install(TARGETS orbitune RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
install(FILES ${_desktop_dir}/orbitune.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_BINARY_DIR}/orbitune.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${_icons_dir}/orbitune.svg DESTINATION ${_hicolor}/scalable/apps)
install(FILES ${_icons_dir}/orbitune-symbolic.svg DESTINATION ${_hicolor}/symbolic/apps)
foreach(size IN LISTS ORBITUNE_ICON_SIZES)
  install(FILES ${_icons_dir}/hicolor/${size}x${size}/orbitune.png
          DESTINATION ${_hicolor}/${size}x${size}/apps)
endforeach()

# The desktop's search: GNOME Shell's provider, KRunner's runner, and the
# D-Bus service that starts Orbitune (into the tray) for them. The service
# names the program by its installed path, known only at install time.
install(FILES ${_desktop_dir}/orbitune-search-provider.ini
        DESTINATION ${CMAKE_INSTALL_DATADIR}/gnome-shell/search-providers)
install(FILES ${_desktop_dir}/orbitune-krunner.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/krunner/dbusplugins RENAME orbitune.desktop)
string(CONFIGURE [[
  set(_bindir "${CMAKE_INSTALL_PREFIX}/@CMAKE_INSTALL_BINDIR@")
  set(_services "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/@CMAKE_INSTALL_DATADIR@/dbus-1/services")
  file(MAKE_DIRECTORY "${_services}")
  file(WRITE "${_services}/org.orbitune.Orbitune.service"
       "[D-BUS Service]
Name=org.orbitune.Orbitune
Exec=${_bindir}/orbitune --hidden
")
  message(STATUS "Installing: ${_services}/org.orbitune.Orbitune.service")
]] _write_dbus_service @ONLY)
install(CODE "${_write_dbus_service}")

# The command line: its bash completion and its manual page.
install(FILES ${CMAKE_SOURCE_DIR}/resources/shell/orbitune.bash
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME orbitune)
install(FILES ${CMAKE_SOURCE_DIR}/resources/shell/orbitune.1
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

install(FILES ${CMAKE_SOURCE_DIR}/resources/debian/copyright
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/orbitune)

# --- Debian package ---------------------------------------------------------
set(CPACK_PACKAGE_NAME orbitune)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Orbitune developers")
set(CPACK_PACKAGE_CONTACT "Orbitune developers <orbitune@example.org>")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "internet radio player for the desktop")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Orbitune plays internet radio streams from a list of programs that the\n"
    "user can edit. It lives in the system tray, shows the current program's\n"
    "name and picture, and can be controlled through MPRIS media keys.")
string(REPLACE ";" "" CPACK_DEBIAN_PACKAGE_DESCRIPTION "${CPACK_DEBIAN_PACKAGE_DESCRIPTION}")
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# Shared libraries the binary links come from dpkg-shlibdeps; what is loaded
# at run time (GStreamer elements, the Qt SVG plugins for icons, the SQLite
# driver of the song history) is listed.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "libqt6svg6, libqt6sql6-sqlite, gstreamer1.0-plugins-base, gstreamer1.0-plugins-good, gstreamer1.0-plugins-bad, gstreamer1.0-plugins-ugly, gstreamer1.0-libav, gstreamer1.0-pulseaudio, hicolor-icon-theme")
# The keyring holds the scrobbling secrets; Cast devices are found through the Avahi daemon.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland, qt6-qpa-plugins, qt6-image-formats-plugins, gnome-keyring | kwalletmanager, avahi-daemon")
set(CPACK_GENERATOR DEB)
include(CPack)
