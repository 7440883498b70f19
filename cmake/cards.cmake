# The card window's model, shared by its wx and Win32 shells: plain C++ over the operations,
# and the list's pictures drawn by the off-screen renderer. The shells add their own programs.
file(GLOB CARDS_SOURCES CONFIGURE_DEPENDS src/cards/*.cpp)
set(CARDS_GL_SOURCES ${CARDS_SOURCES})
list(FILTER CARDS_SOURCES EXCLUDE REGEX "_(gl|egl|wgl|wx|win32)\\.cpp$")
add_library(marrowin_cards STATIC ${CARDS_SOURCES})
target_link_libraries(marrowin_cards PUBLIC marrowin_core)

if(MARROWIN_GL)
  list(FILTER CARDS_GL_SOURCES INCLUDE REGEX "_gl\\.cpp$")
  add_library(marrowin_cards_gl STATIC ${CARDS_GL_SOURCES})
  target_link_libraries(marrowin_cards_gl PUBLIC marrowin_cards marrowin_gl)
endif()
