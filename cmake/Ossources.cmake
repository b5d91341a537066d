# tolm_os_sources(VAR WIN32 file... POSIX file...): drops from the list VAR
# (full paths of one folder) the files of the other system's backend, so that
# each folder builds one file per backend beside its shared ones.
function(tolm_os_sources var)
  cmake_parse_arguments(OS "" "" "WIN32;POSIX" ${ARGN})
  if(WIN32)
    set(drop ${OS_POSIX})
  else()
    set(drop ${OS_WIN32})
  endif()
  set(kept ${${var}})
  foreach(file ${drop})
    list(REMOVE_ITEM kept ${CMAKE_CURRENT_SOURCE_DIR}/${file})
  endforeach()
  set(${var} ${kept} PARENT_SCOPE)
endfunction()
