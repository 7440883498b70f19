# Install rules for the file-manager side (MIME type, thumbnailer) and the Debian package.
# Paths are relative to the install prefix, so `cmake --install build --prefix DIR` and the
# package (prefix /usr) put the same tree in place.

install(FILES ${PROJECT_SOURCE_DIR}/res/marrowin-mime.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages RENAME marrowin.xml)
# The thumbnail command draws the icon with the off-screen renderer.
if(MARROWIN_GL)
  install(FILES ${PROJECT_SOURCE_DIR}/res/marrowin.thumbnailer
          DESTINATION ${CMAKE_INSTALL_DATADIR}/thumbnailers)
endif()

set(MARROWIN_PACKAGE_MAINTAINER "Marrowin maintainers <maintainers@marrowin.invalid>"
    CACHE STRING "Maintainer field of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME marrowin)
set(CPACK_PACKAGE_VENDOR "Marrowin")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "3D icon viewer for PlayStation 2 save archives")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# The package lands in the build dir, wherever cpack is run from.
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR})

set(CPACK_DEBIAN_PACKAGE_NAME marrowin)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${MARROWIN_PACKAGE_MAINTAINER}")
# The summary above is the first line of the package's description; this is the body.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "Marrowin shows the animated 3D icon of a PlayStation 2 memory-card save kept
as a .psu save archive, lit by the save's own lights. marrowin-cli lists,
extracts, packs, copies and renders saves without a display, and a
thumbnailer lets file managers show each archive's icon.")
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Dependencies come from dpkg-shlibdeps: the distribution's own library packages.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS shared-mime-info)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
