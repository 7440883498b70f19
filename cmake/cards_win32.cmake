# Marrowin Cards on Windows: a native Win32 window (no wxWidgets) over the card model, with the
# viewer's GL drawing for the turning icon. Menus, dialogs and strings in English and Japanese
# come from res/marrowin-cards.rc; linked statically like the viewer, so only system DLLs.
if(NOT EXISTS ${PROJECT_SOURCE_DIR}/cmake/cards.cmake)
  message(STATUS "marrowin-cards.exe left out: the card model library is not part of this tree")
  return()
endif()
enable_language(RC)

file(GLOB MARROWIN_CARDS_WINDOW_SOURCES CONFIGURE_DEPENDS
  ${PROJECT_SOURCE_DIR}/src/cards/*_win32.cpp
  ${PROJECT_SOURCE_DIR}/src/cards/*_wgl.cpp)
list(APPEND MARROWIN_CARDS_WINDOW_SOURCES
  ${PROJECT_SOURCE_DIR}/src/app/wide_text_win32.cpp
  ${PROJECT_SOURCE_DIR}/src/view/window_wgl.cpp
  ${PROJECT_SOURCE_DIR}/res/marrowin-cards.rc)

add_executable(marrowin-cards WIN32 ${MARROWIN_CARDS_WINDOW_SOURCES})
# The command line comes wide (wWinMain).
target_link_options(marrowin-cards PRIVATE -municode -static)
set_property(SOURCE ${PROJECT_SOURCE_DIR}/res/marrowin-cards.rc APPEND PROPERTY OBJECT_DEPENDS
  ${PROJECT_SOURCE_DIR}/res/marrowin-cards.ico ${PROJECT_SOURCE_DIR}/res/marrowin-cards.manifest
  ${PROJECT_SOURCE_DIR}/src/cards/cards_resources_win32.h)
set_property(SOURCE ${PROJECT_SOURCE_DIR}/res/marrowin-cards.rc APPEND PROPERTY INCLUDE_DIRECTORIES
  ${PROJECT_SOURCE_DIR}/src)
target_link_libraries(marrowin-cards PRIVATE marrowin_cards_gl marrowin_cards marrowin_gl marrowin_core
  opengl32 glu32 comctl32 comdlg32 shell32 ole32 uuid gdi32 user32)
install(TARGETS marrowin-cards RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# The window under Wine, driven from this machine.
if(MARROWIN_TESTS)
  find_program(SYSTEM_PYTHON3 NAMES python3 PATHS /usr/bin NO_DEFAULT_PATH)
  find_program(WINE_PROGRAM wine)
  if(SYSTEM_PYTHON3 AND WINE_PROGRAM)
    enable_testing()
    add_test(NAME gui_win32_cards
             COMMAND ${SYSTEM_PYTHON3} ${PROJECT_SOURCE_DIR}/tests/gui_win32/test_cards_win32.py)
    set_tests_properties(gui_win32_cards PROPERTIES
      LABELS "gui;win32"
      TIMEOUT 400
      SKIP_RETURN_CODE 77
      ENVIRONMENT "MARROWIN_CARDS_EXE=$<TARGET_FILE:marrowin-cards>;MARROWIN_CLI_EXE=$<TARGET_FILE:marrowin-cli>;MARROWIN_TEST_DATA=${PROJECT_SOURCE_DIR}/tests/data;MARROWIN_DEMO=${PROJECT_SOURCE_DIR}/samples/demo.psu")
  endif()
endif()
