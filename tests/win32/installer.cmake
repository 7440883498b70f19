# The installer under Wine: made with makensis from this build's programs, installed and
# uninstalled in a fresh Wine prefix. Included from tests/CMakeLists.txt for Windows builds.
find_program(SYSTEM_PYTHON3 NAMES python3 PATHS /usr/bin NO_DEFAULT_PATH)
if(NOT SYSTEM_PYTHON3)
  return()
endif()
add_test(NAME win32_installer
         COMMAND ${SYSTEM_PYTHON3} ${CMAKE_CURRENT_LIST_DIR}/test_installer.py)
set_tests_properties(win32_installer PROPERTIES
  LABELS "gui;win32"
  TIMEOUT 1500
  # One of the longest: started first, beside the many short tests, not after them.
  COST 200
  SKIP_RETURN_CODE 77
  # Its own prefix under the build folder: no other test may run in it meanwhile.
  RESOURCE_LOCK wineprefix-installer
  ENVIRONMENT "MARROWIN_BUILD_DIR=${PROJECT_BINARY_DIR};MARROWIN_NSI=${PROJECT_SOURCE_DIR}/res/windows/marrowin.nsi;MARROWIN_SOURCE_DIR=${PROJECT_SOURCE_DIR};MARROWIN_VERSION=${PROJECT_VERSION};MARROWIN_DEMO=${PROJECT_SOURCE_DIR}/samples/demo.psu")
