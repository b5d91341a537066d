# Fills the generated parts of a template (the manual page or the bash
# completion of tolm-upgrade-cli) with what the program says of its own
# commands and options: each line ending in "generated: KIND" is replaced by
# the output of "tolm-upgrade-cli reference KIND".
# cmake -DCLI=... -DTEMPLATE=... -DOUTPUT=... -P Clireference.cmake
file(READ "${TEMPLATE}" text)
string(REGEX MATCHALL "[^\n]*generated: [a-z]+\n" markers "${text}")
foreach(marker IN LISTS markers)
  string(REGEX REPLACE ".*generated: ([a-z]+)\n" "\\1" kind "${marker}")
  execute_process(COMMAND "${CLI}" reference ${kind} OUTPUT_VARIABLE part RESULT_VARIABLE status)
  if(NOT status EQUAL 0 OR part STREQUAL "")
    message(FATAL_ERROR "${CLI} reference ${kind} failed (${status})")
  endif()
  string(REPLACE "${marker}" "${part}" text "${text}")
endforeach()
file(WRITE "${OUTPUT}" "${text}")
