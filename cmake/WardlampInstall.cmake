# What `cmake --install` puts where, and the Debian package CPack builds.
include(GNUInstallDirs)

# The four programs; wardlampd's plugins where it looks for them when installed.
install(TARGETS wardlamp wardlampd RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS wardlampd-remote wardlampd-notify LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}/wardlamp)

# Desktop integration: the menu entry, the icons (a theme may override them by
# name), and the user unit that runs wardlampd without a desktop.
install(FILES ${CMAKE_SOURCE_DIR}/data/wardlamp.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_SOURCE_DIR}/data/icons/hicolor/scalable/apps/wardlamp.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/data/icons/hicolor/scalable/status/
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/status FILES_MATCHING PATTERN "*.svg")
set(WL_INSTALL_BINDIR ${CMAKE_INSTALL_FULL_BINDIR})
configure_file(${CMAKE_SOURCE_DIR}/data/wardlampd.service.in ${CMAKE_BINARY_DIR}/wardlampd.service @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/wardlampd.service DESTINATION lib/systemd/user)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME wardlamp)
set(CPACK_PACKAGE_VENDOR "Wardlamp")
set(CPACK_PACKAGE_CONTACT "Wardlamp developers <wardlamp@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Dependencies as dpkg-shlibdeps finds them in the programs and plugins.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/bin)
# Loaded at run time, not linked: the Secret Service client (without it the
# pairing secret lives in a file of the user's).
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libsecret-1-0, gnome-keyring | kwalletmanager")
set(CPACK_STRIP_FILES ON)
include(CPack)
