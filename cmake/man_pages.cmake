# Man pages made from each program's --help and --version output by help2man, with the NAME and
# SEE ALSO sections from docs/man/<program>.h2m; written to build/man/<program>.1.gz by the target
# "man" (part of the default build when help2man is installed).
set(RINGOLAN_MAN_PROGRAMS
  ringolan ringolan-server ringolan-upload ringolan-site ringolan-mkdemo ringolan-mkdb ringolan-page
  ringolan-pictures)

find_program(HELP2MAN_EXECUTABLE help2man)
find_program(GZIP_EXECUTABLE gzip)
if(NOT HELP2MAN_EXECUTABLE OR NOT GZIP_EXECUTABLE)
  message(STATUS "help2man or gzip not found: no man pages (target man skipped)")
  return()
endif()

# The commit's time as the pages' date, so that a rebuild of the same commit gives the same pages.
execute_process(COMMAND git log -1 --format=%ct
  WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
  OUTPUT_VARIABLE man_date OUTPUT_STRIP_TRAILING_WHITESPACE
  RESULT_VARIABLE man_date_result ERROR_QUIET)
if(NOT man_date_result EQUAL 0 OR man_date STREQUAL "")
  string(TIMESTAMP man_date "%s")
endif()

set(man_dir ${CMAKE_BINARY_DIR}/man)
set(man_wrapper ${CMAKE_SOURCE_DIR}/cmake/help2man_program.sh)
set(man_pages)
foreach(program IN LISTS RINGOLAN_MAN_PROGRAMS)
  if(NOT TARGET ${program})
    continue()
  endif()
  set(include_file ${CMAKE_SOURCE_DIR}/docs/man/${program}.h2m)
  set(page ${man_dir}/${program}.1)
  add_custom_command(OUTPUT ${page}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${man_dir}
    COMMAND ${CMAKE_COMMAND} -E env RINGOLAN_MAN_PROGRAM=$<TARGET_FILE:${program}> SOURCE_DATE_EPOCH=${man_date}
            ${HELP2MAN_EXECUTABLE} --no-info --section=1 --include=${include_file} --output=${page} ${man_wrapper}
    COMMAND ${GZIP_EXECUTABLE} -9 -n -f ${page}
    DEPENDS ${program} ${include_file} ${man_wrapper}
    COMMENT "Man page ${program}.1.gz"
    VERBATIM)
  list(APPEND man_pages ${page}.gz)
endforeach()
add_custom_target(man ALL DEPENDS ${man_pages})
