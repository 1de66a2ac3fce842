# cmake -DDIR=FOLDER -DMODE=clear|check -P reports.cmake
#   clear  removes and re-creates the report folder
#   check  prints every report in it and fails when there is one
if(MODE STREQUAL "clear")
  file(REMOVE_RECURSE "${DIR}")
  file(MAKE_DIRECTORY "${DIR}")
  return()
endif()
file(GLOB reports "${DIR}/*")
if(NOT reports)
  message(STATUS "no sanitizer reports in ${DIR}")
  return()
endif()
list(LENGTH reports count)
foreach(report IN LISTS reports)
  file(READ "${report}" text)
  message("==== ${report}\n${text}")
endforeach()
message(FATAL_ERROR "${count} sanitizer report(s) in ${DIR}")
