# The Debian package (scripts/package): what `cmake --install` places, under
# /usr, with dependencies computed from the binaries by dpkg-shlibdeps plus the
# plugins and data the program loads at run time, which no binary names.
install(FILES ${PROJECT_SOURCE_DIR}/data/package/copyright DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/quillomere)
set(changelog ${CMAKE_BINARY_DIR}/package/changelog.gz)
add_custom_command(OUTPUT ${changelog}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/package
  COMMAND gzip -9 -n -c ${PROJECT_SOURCE_DIR}/data/package/changelog > ${changelog}
  DEPENDS ${PROJECT_SOURCE_DIR}/data/package/changelog VERBATIM)
add_custom_target(package_changelog ALL DEPENDS ${changelog})
install(FILES ${changelog} DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/quillomere)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quillomere)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Quillomere maintainers <maintainers@quillomere.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "browse and organise files by their tags")
set(CPACK_PACKAGE_DESCRIPTION "Quillomere shows the files of the home folder by their tags instead of
by folder. Tags live in the files themselves, in the user.xdg.tags
extended attribute that KDE and other desktop programs share, so tags set
elsewhere appear here and the other way round.
.
A window has a tree of the tags with their sub-tags, the colour labels,
the pinned tags and the folders; thumbnails of the files of a tag or
folder; and a world map of the photos and movies that carry a position.
Every edit can be undone. The package also has quillomere-tag, which tags
files and finds them from a terminal, and quillomere-index, which shows
what the file index finds.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://quillomere.org)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Loaded as plugins or read as data: image formats beyond Qt's own (WebP),
# the icon themes, the file-type database, and GStreamer's decoders for the
# preview's movies and sounds.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
  "qt6-image-formats-plugins, hicolor-icon-theme, adwaita-icon-theme | breeze-icon-theme, shared-mime-info, gstreamer1.0-plugins-good, gstreamer1.0-libav")
# Wayland windows without XWayland, opening files in other programs, one program
# per session, and the sandbox the desktop's thumbnailer programs run in.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland, xdg-utils, default-dbus-session-bus | dbus-session-bus, bubblewrap")
set(CPACK_STRIP_FILES ON)
# The bus service file names the program by its final path: installed with
# DESTDIR under the real prefix, not into a prefix inside the staging folder.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# CPack packages the tree as it is built (scripts/package builds first, the
# suite's package test runs after the build) instead of building everything
# again beforehand; `cmake --install` never builds either.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
include(CPack)
