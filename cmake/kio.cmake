# Dolphin's thumbnails: a KIO thumbnail plugin (KDE Frameworks 5.100 and later) that runs the
# installed marrowin-cli. Built when Qt 5 and KF5 KIO's development files are there; packaged
# apart (marrowin-dolphin) so the main package pulls in no KDE libraries.
if(WIN32 OR NOT MARROWIN_GL)
  return()
endif()
find_package(Qt5 5.15 QUIET COMPONENTS Core Gui)
find_package(KF5KIO 5.100 QUIET)
if(NOT Qt5_FOUND OR NOT KF5KIO_FOUND)
  message(STATUS "Dolphin thumbnail plugin skipped: Qt 5 or KF5 KIO 5.100+ development files missing (libkf5kio-dev)")
  return()
endif()

# Where this system's Qt looks for plugins, relative to its prefix (Debian:
# lib/x86_64-linux-gnu/qt5/plugins), so `cmake --install --prefix DIR` and the package put the
# plugin in the same place under their prefix and never write outside it.
if(NOT DEFINED MARROWIN_KIO_PLUGIN_DIR)
  set(qtPlugins "")
  if(TARGET Qt5::qmake)
    get_target_property(qmake Qt5::qmake IMPORTED_LOCATION)
    execute_process(COMMAND ${qmake} -query QT_INSTALL_PLUGINS OUTPUT_VARIABLE qtPlugins
                    OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    execute_process(COMMAND ${qmake} -query QT_INSTALL_PREFIX OUTPUT_VARIABLE qtPrefix
                    OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  endif()
  if(qtPlugins AND qtPrefix AND qtPlugins MATCHES "^${qtPrefix}/")
    file(RELATIVE_PATH qtPlugins ${qtPrefix} ${qtPlugins})
  else()
    set(qtPlugins ${CMAKE_INSTALL_LIBDIR}/qt5/plugins)
  endif()
  set(MARROWIN_KIO_PLUGIN_DIR ${qtPlugins}/kf5/thumbcreator CACHE STRING
      "Where the Dolphin thumbnail plugin is installed, relative to the prefix")
endif()
# The plugin finds the marrowin-cli installed with it through this path.
file(RELATIVE_PATH MARROWIN_KIO_CLI_RELATIVE /${MARROWIN_KIO_PLUGIN_DIR} /${CMAKE_INSTALL_BINDIR})

add_library(marrowinthumbnail MODULE src/kio/marrowin_thumbnail.cpp)
set_target_properties(marrowinthumbnail PROPERTIES PREFIX "" AUTOMOC ON)
target_compile_definitions(marrowinthumbnail PRIVATE
  MARROWIN_KIO_CLI_RELATIVE="${MARROWIN_KIO_CLI_RELATIVE}" QT_NO_KEYWORDS)
target_link_libraries(marrowinthumbnail PRIVATE KF5::KIOGui Qt5::Gui ${CMAKE_DL_LIBS})
install(TARGETS marrowinthumbnail LIBRARY DESTINATION ${MARROWIN_KIO_PLUGIN_DIR} COMPONENT dolphin)

# Its package's own documents, as Debian wants them in every package.
find_program(MARROWIN_KIO_GZIP gzip)
if(MARROWIN_KIO_GZIP)
  set(changelog ${CMAKE_BINARY_DIR}/gz-dolphin/changelog)
  add_custom_command(
    OUTPUT ${changelog}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/gz-dolphin
    COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/debian/changelog ${changelog}
    COMMAND ${MARROWIN_KIO_GZIP} -9nf ${changelog}
    DEPENDS ${PROJECT_SOURCE_DIR}/debian/changelog
    VERBATIM)
  add_custom_target(marrowin_dolphin_docs ALL DEPENDS ${changelog}.gz)
  install(FILES ${changelog}.gz DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/marrowin-dolphin COMPONENT dolphin)
endif()
install(FILES ${PROJECT_SOURCE_DIR}/debian/copyright
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/marrowin-dolphin COMPONENT dolphin)

# Two packages from one build: everything else stays in "marrowin", under its old file name.
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL Unspecified dolphin)
set(CPACK_DEBIAN_UNSPECIFIED_PACKAGE_NAME marrowin)
set(CPACK_DEBIAN_DOLPHIN_PACKAGE_NAME marrowin-dolphin)
set(CPACK_DEBIAN_DOLPHIN_PACKAGE_DEPENDS "marrowin (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_DOLPHIN_PACKAGE_ENHANCES dolphin)
set(CPACK_DEBIAN_DOLPHIN_PACKAGE_SECTION kde)
# CPack puts the one summary line of the build above this text.
set(CPACK_DEBIAN_DOLPHIN_DESCRIPTION
  "Dolphin thumbnails: this KIO thumbnail plugin lets Dolphin and other KDE
programs show the 3D icon of each PlayStation 2 save (in every container
marrowin reads) and of memory card images, drawn by marrowin-cli as other
file managers show it.")

if(MARROWIN_TESTS)
  add_subdirectory(tests/kio)
endif()
