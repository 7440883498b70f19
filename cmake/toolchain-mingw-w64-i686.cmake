# Windows, 32-bit: see toolchain-mingw-w64.cmake.
set(MINGW_ARCH i686)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-w64.cmake)
