# A Debian package of what `cmake --install` puts in place: the desktop app,
# the command-line tool, the menu entry, the icon and the drawing file types.
#   cmake --build build && (cd build && cpack)
set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "tarnwick")
set(CPACK_PACKAGE_VENDOR "Tarnwick")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Finds the block definitions in JWW drawings and JWS figures")
# The extended description below the summary, in lines short enough for a
# terminal.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Tarnwick reads JWW drawing files and JWS figure files, from a list
of files or whole folder trees, and lists the block definitions they
hold: file name, full path and block name. The rows can be searched
by block name and saved as text or CSV.
.
It comes as a Qt desktop app (tarnwick), in Japanese or English,
and a command-line tool (tarnwick-cli).")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The project has no mail host of its own yet: a packager sets a reachable
# address with -DTARNWICK_PACKAGE_MAINTAINER=...
set(TARNWICK_PACKAGE_MAINTAINER "The Tarnwick developers <developers@tarnwick.example>"
    CACHE STRING "Maintainer field of the .deb")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${TARNWICK_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION "graphics")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
# Library dependencies are read from the binaries by dpkg-shlibdeps; Qt's
# platform plugins are loaded at run time and named here.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
# Japanese glyphs for the window texts; Qt's own texts (the edit boxes'
# context menus) in Japanese; the file types and the menu entry are picked up
# by the triggers of shared-mime-info and desktop-file-utils.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-noto-cjk, qt6-translations-l10n, shared-mime-info, desktop-file-utils")

# The licence as a machine-readable Debian copyright file and the changelog,
# compressed as Debian wants it (gzip -9, no name or time stamp).
include(GNUInstallDirs)
set(TARNWICK_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/${CPACK_PACKAGE_NAME})
find_program(GZIP_EXECUTABLE gzip REQUIRED)
add_custom_command(
  OUTPUT ${PROJECT_BINARY_DIR}/changelog.gz
  COMMAND ${GZIP_EXECUTABLE} -9nc ${PROJECT_SOURCE_DIR}/packaging/changelog > ${PROJECT_BINARY_DIR}/changelog.gz
  DEPENDS ${PROJECT_SOURCE_DIR}/packaging/changelog
  COMMENT "Compressing the changelog")
add_custom_target(tarnwick_changelog ALL DEPENDS ${PROJECT_BINARY_DIR}/changelog.gz)
install(FILES ${PROJECT_BINARY_DIR}/changelog.gz packaging/copyright DESTINATION ${TARNWICK_DOC_DIR})

include(CPack)
