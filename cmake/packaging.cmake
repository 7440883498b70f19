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

# Documents Debian keeps gzipped (manual pages, the changelog), compressed at build time with
# -n so the bytes depend on the text only; `cmake --install` puts the same files in place.
find_program(GZIP_PROGRAM gzip)
set(MARROWIN_GZIPPED)
function(marrowin_install_gzipped source destination name)
  if(NOT GZIP_PROGRAM)
    install(FILES ${source} DESTINATION ${destination} RENAME ${name})
    return()
  endif()
  set(out ${CMAKE_BINARY_DIR}/gz/${name})
  add_custom_command(
    OUTPUT ${out}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/gz
    COMMAND ${CMAKE_COMMAND} -E copy ${source} ${out}
    COMMAND ${GZIP_PROGRAM} -9nf ${out}
    DEPENDS ${source}
    VERBATIM)
  set(MARROWIN_GZIPPED ${MARROWIN_GZIPPED} ${out}.gz PARENT_SCOPE)
  install(FILES ${out}.gz DESTINATION ${destination})
endfunction()

marrowin_install_gzipped(${PROJECT_SOURCE_DIR}/docs/man/marrowin-cli.1
                         ${CMAKE_INSTALL_MANDIR}/man1 marrowin-cli.1)
if(TARGET marrowin)
  marrowin_install_gzipped(${PROJECT_SOURCE_DIR}/docs/man/marrowin.1
                           ${CMAKE_INSTALL_MANDIR}/man1 marrowin.1)
endif()
if(TARGET marrowin-cards)
  marrowin_install_gzipped(${PROJECT_SOURCE_DIR}/docs/man/marrowin-cards.1
                           ${CMAKE_INSTALL_MANDIR}/man1 marrowin-cards.1)
endif()
marrowin_install_gzipped(${PROJECT_SOURCE_DIR}/debian/changelog ${CMAKE_INSTALL_DOCDIR} changelog)
if(MARROWIN_GZIPPED)
  add_custom_target(marrowin_docs ALL DEPENDS ${MARROWIN_GZIPPED})
endif()
install(FILES ${PROJECT_SOURCE_DIR}/debian/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})

# Where bash-completion looks on Debian (its pkg-config completionsdir), relative to the prefix.
install(FILES ${PROJECT_SOURCE_DIR}/res/marrowin-cli.bash-completion
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME marrowin-cli)

set(MARROWIN_PACKAGE_MAINTAINER "Marrowin maintainers <maintainers@marrowin.invalid>"
    CACHE STRING "Maintainer field of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME marrowin)
set(CPACK_PACKAGE_VENDOR "Marrowin")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "3D icon viewer for PlayStation 2 save archives")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# Strip as dh_strip does: also the .comment and .note sections that strip leaves.
find_program(MARROWIN_OBJCOPY NAMES ${CMAKE_OBJCOPY} objcopy)
set(CPACK_MARROWIN_OBJCOPY "${MARROWIN_OBJCOPY}")
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/strip_sections.cmake)
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
# The menus and the configuration window are laid out for IPAPGothic, which only this
# package provides (fonts-ipafont depends on it); shlibdeps adds the libraries to this.
if(TARGET marrowin)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS fonts-ipafont-gothic)
endif()
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
