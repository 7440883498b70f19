# Explorer's thumbnail and property handlers: an in-process COM server (marrowin-shell.dll)
# drawing with the CLI's own thumbnail code. Linked statically, so Explorer loads nothing of
# ours but this one file.
file(GLOB MARROWIN_SHELL_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/shell/*_win32.cpp)
add_library(marrowin-shell SHARED ${MARROWIN_SHELL_SOURCES}
  ${PROJECT_SOURCE_DIR}/src/app/wide_text_win32.cpp
  # Undecorated exports on i686 too (a __stdcall name would otherwise end in @N).
  ${PROJECT_SOURCE_DIR}/src/shell/marrowin-shell.def)
set_target_properties(marrowin-shell PROPERTIES PREFIX "" OUTPUT_NAME marrowin-shell)
target_link_libraries(marrowin-shell PRIVATE marrowin_gl ole32 oleaut32 uuid shell32 shlwapi advapi32
  propsys gdi32 user32)
target_link_options(marrowin-shell PRIVATE -static)
install(TARGETS marrowin-shell RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_BINDIR})

if(MARROWIN_TESTS)
  add_executable(shell_probe ${PROJECT_SOURCE_DIR}/tests/shell_win32/shell_probe_win32.cpp)
  target_include_directories(shell_probe PRIVATE ${PROJECT_SOURCE_DIR}/src)
  target_compile_definitions(shell_probe PRIVATE UNICODE _UNICODE WIN32_LEAN_AND_MEAN)
  target_link_libraries(shell_probe PRIVATE ole32 oleaut32 uuid shell32 shlwapi propsys)
  target_link_options(shell_probe PRIVATE -static)
  find_program(SYSTEM_PYTHON3 NAMES python3 PATHS /usr/bin NO_DEFAULT_PATH)
  if(SYSTEM_PYTHON3)
    enable_testing()
    add_test(NAME win32_shell_handler
             COMMAND ${SYSTEM_PYTHON3} ${PROJECT_SOURCE_DIR}/tests/win32/test_shell_handler.py)
    set_tests_properties(win32_shell_handler PROPERTIES
      LABELS win32
      TIMEOUT 1800
      SKIP_RETURN_CODE 77
      ENVIRONMENT "MARROWIN_SHELL_DLL=$<TARGET_FILE:marrowin-shell>;MARROWIN_SHELL_PROBE=$<TARGET_FILE:shell_probe>;MARROWIN_CLI_EXE=$<TARGET_FILE:marrowin-cli>;MARROWIN_TEST_DATA=${PROJECT_SOURCE_DIR}/tests/data;MARROWIN_DEMO=${PROJECT_SOURCE_DIR}/samples/demo.psu")
  endif()
endif()
