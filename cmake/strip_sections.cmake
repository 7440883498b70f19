# CPack pre-build script: removes the .comment and .note sections from the programs in the
# staging tree, as dh_strip does for Debian packages.
if(NOT CPACK_MARROWIN_OBJCOPY)
  message(WARNING "objcopy not found: .comment and .note sections stay in the programs")
  return()
endif()
# Programs and plugins at any depth: a package per component stages each under its own folder.
file(GLOB_RECURSE programs LIST_DIRECTORIES false "${CPACK_TEMPORARY_DIRECTORY}/*")
list(FILTER programs INCLUDE REGEX "/(bin|libexec)/|\\.so$")
foreach(program IN LISTS programs)
  file(READ "${program}" magic LIMIT 4 HEX)
  if(NOT IS_SYMLINK "${program}" AND magic STREQUAL "7f454c46")
    execute_process(
      COMMAND "${CPACK_MARROWIN_OBJCOPY}" --remove-section=.comment --remove-section=.note "${program}"
      RESULT_VARIABLE result)
    if(NOT result EQUAL 0)
      message(FATAL_ERROR "objcopy failed on ${program}")
    endif()
  endif()
endforeach()
