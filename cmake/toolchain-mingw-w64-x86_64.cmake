# Windows, 64-bit: see toolchain-mingw-w64.cmake.
set(MINGW_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-w64.cmake)
