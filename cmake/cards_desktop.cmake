# The card window's place on the desktop: its entry, icon and manual page. Included from
# packaging.cmake, which comes after every program is defined, so the test below sees
# marrowin-cards whichever file defines it. Without the program none of this is installed:
# an entry would offer a program that is not there.
if(NOT TARGET marrowin-cards)
  return()
endif()

install(FILES ${PROJECT_SOURCE_DIR}/res/marrowin-cards.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
set(MARROWIN_CARDS_ICON_DIR ${CMAKE_INSTALL_DATADIR}/icons/hicolor)
install(FILES ${PROJECT_SOURCE_DIR}/res/marrowin-cards.svg
        DESTINATION ${MARROWIN_CARDS_ICON_DIR}/scalable/apps)
foreach(size 48 64 128 256)
  install(FILES ${PROJECT_SOURCE_DIR}/res/marrowin-cards-${size}x${size}.png
          DESTINATION ${MARROWIN_CARDS_ICON_DIR}/${size}x${size}/apps RENAME marrowin-cards.png)
endforeach()
marrowin_install_gzipped(${PROJECT_SOURCE_DIR}/docs/man/marrowin-cards.1
                         ${CMAKE_INSTALL_MANDIR}/man1 marrowin-cards.1)
