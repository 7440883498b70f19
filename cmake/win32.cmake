# The Windows program: a native Win32 window around the same core and OpenGL drawing as the
# Linux one. Dialogs and menu come from res/marrowin.rc; GL 1.1 and GLU are the system's.
# Only the drawing files the window needs are compiled in: it writes no PNG (so no libpng)
# and draws on screen (so no EGL).
enable_language(RC)

file(GLOB MARROWIN_WINDOW_SOURCES CONFIGURE_DEPENDS
  ${PROJECT_SOURCE_DIR}/src/app/*_win32.cpp)
list(APPEND MARROWIN_WINDOW_SOURCES
  ${PROJECT_SOURCE_DIR}/src/icon/icon_draw_gl.cpp
  ${PROJECT_SOURCE_DIR}/src/view/gl_frame_gl.cpp
  ${PROJECT_SOURCE_DIR}/src/view/window_wgl.cpp
  ${PROJECT_SOURCE_DIR}/res/marrowin.rc)

add_executable(marrowin WIN32 ${MARROWIN_WINDOW_SOURCES})
# The menu's version label, for marrowin.rc.
file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/generated/marrowin_version_rc.h
  CONTENT "#define MARROWIN_VERSION_LABEL \"Version 06/05/26 Marrowin @PROJECT_VERSION@ (Windows)\"\n")
target_include_directories(marrowin PRIVATE ${CMAKE_BINARY_DIR}/generated)
target_compile_definitions(marrowin PRIVATE MARROWIN_VERSION="${PROJECT_VERSION}")
# The icon file and the generated configuration template are found beside the .rc.
set_property(SOURCE ${PROJECT_SOURCE_DIR}/res/marrowin.rc APPEND PROPERTY OBJECT_DEPENDS
  ${PROJECT_SOURCE_DIR}/res/sub1.rc ${PROJECT_SOURCE_DIR}/res/marrowin.ico
  ${PROJECT_SOURCE_DIR}/res/marrowin.manifest)
target_link_libraries(marrowin PRIVATE marrowin_core opengl32 glu32 comdlg32 shell32 gdi32 user32)
# Only system DLLs at run time.
target_link_options(marrowin PRIVATE -static)

install(TARGETS marrowin RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# Its GUI test runs the program under Wine from here.
if(MARROWIN_TESTS)
  enable_testing()
  add_subdirectory(${PROJECT_SOURCE_DIR}/tests/gui_win32 ${CMAKE_BINARY_DIR}/tests/gui_win32)
endif()
