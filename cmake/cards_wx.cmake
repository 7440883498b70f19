# marrowin-cards on Linux: the wx shell around the card model, and its Japanese catalog.
if(NOT TARGET marrowin_cards OR NOT TARGET marrowin_cards_gl)
  message(STATUS "marrowin-cards skipped: the card model libraries are not defined")
  return()
endif()
find_package(wxWidgets 3.2 REQUIRED COMPONENTS gl core base)
include(${wxWidgets_USE_FILE})

file(GLOB CARDS_WX_SOURCES CONFIGURE_DEPENDS src/cards/*_wx.cpp)
add_executable(marrowin-cards ${CARDS_WX_SOURCES})
target_compile_definitions(marrowin-cards PRIVATE MARROWIN_VERSION="${PROJECT_VERSION}")
target_link_libraries(marrowin-cards PRIVATE marrowin_cards_gl marrowin_cards marrowin_gl
                      ${wxWidgets_LIBRARIES})
install(TARGETS marrowin-cards RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# The catalog goes beside the program in the build tree (locale/ja/...), where the program
# looks first, so tests run in Japanese without an install.
find_program(MSGFMT msgfmt)
if(MSGFMT)
  set(CARDS_MO ${CMAKE_CURRENT_BINARY_DIR}/locale/ja/LC_MESSAGES/marrowin-cards.mo)
  add_custom_command(
    OUTPUT ${CARDS_MO}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/locale/ja/LC_MESSAGES
    COMMAND ${MSGFMT} --check -o ${CARDS_MO} ${PROJECT_SOURCE_DIR}/po/ja.po
    DEPENDS ${PROJECT_SOURCE_DIR}/po/ja.po
    COMMENT "Compiling the Japanese catalog of marrowin-cards"
    VERBATIM)
  add_custom_target(marrowin-cards-catalogs ALL DEPENDS ${CARDS_MO})
  add_dependencies(marrowin-cards marrowin-cards-catalogs)
  install(FILES ${CARDS_MO} DESTINATION ${CMAKE_INSTALL_LOCALEDIR}/ja/LC_MESSAGES)
else()
  message(WARNING "msgfmt (gettext) not found: marrowin-cards is built without its Japanese catalog")
endif()
