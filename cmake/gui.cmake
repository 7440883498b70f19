# The desktop program: wxWidgets (GTK) windows around the OpenGL view.
find_package(wxWidgets 3.2 REQUIRED COMPONENTS gl xrc xml core base)
include(${wxWidgets_USE_FILE})

set(MARROWIN_RESOURCES
  ${PROJECT_SOURCE_DIR}/res/main.xrc
  ${PROJECT_SOURCE_DIR}/res/sub1.xrc
  ${PROJECT_SOURCE_DIR}/res/marrowin.png)
set(MARROWIN_RESOURCES_CPP ${CMAKE_CURRENT_BINARY_DIR}/generated/resources_data_wx.cpp)
add_custom_command(
  OUTPUT ${MARROWIN_RESOURCES_CPP}
  COMMAND ${CMAKE_COMMAND} "-DINPUTS=${MARROWIN_RESOURCES}" -DOUTPUT=${MARROWIN_RESOURCES_CPP}
          -DVERSION=${PROJECT_VERSION}
          -P ${PROJECT_SOURCE_DIR}/cmake/embed_resources.cmake
  DEPENDS ${MARROWIN_RESOURCES} ${PROJECT_SOURCE_DIR}/cmake/embed_resources.cmake
  COMMENT "Embedding the window resources"
  VERBATIM)

file(GLOB GUI_SOURCES CONFIGURE_DEPENDS src/app/*_wx.cpp src/view/*_wx.cpp)
add_executable(marrowin ${GUI_SOURCES} ${MARROWIN_RESOURCES_CPP})
target_compile_definitions(marrowin PRIVATE MARROWIN_VERSION="${PROJECT_VERSION}")
target_link_libraries(marrowin PRIVATE marrowin_gl ${wxWidgets_LIBRARIES})

install(TARGETS marrowin RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES res/marrowin.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
# The icon in the hicolor theme: the SVG for any size, and PNGs made from it (by
# tools/make_icons.sh) for the sizes app grids and docks ask for.
set(MARROWIN_ICON_DIR ${CMAKE_INSTALL_DATADIR}/icons/hicolor)
install(FILES res/marrowin.svg DESTINATION ${MARROWIN_ICON_DIR}/scalable/apps)
install(FILES res/marrowin.png DESTINATION ${MARROWIN_ICON_DIR}/32x32/apps)
foreach(size 48 64 128 256)
  install(FILES res/marrowin-${size}x${size}.png DESTINATION ${MARROWIN_ICON_DIR}/${size}x${size}/apps
          RENAME marrowin.png)
endforeach()
