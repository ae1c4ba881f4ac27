# lanfeed_read_allowlist(<file>): reads cmake/wince_api_allowlist.txt's format
# into the caller's scope: ALLOWLIST_DLLS, the sections' DLL names in order
# and lower case ("coredll.dll", ...), ALLOWLIST_FUNCTIONS, every function, and
# ALLOWLIST_IN_<dll>, the functions of one section. "[name.dll]" opens a
# section, then one function a line; '#' starts a comment. For cmake -P
# scripts.
function(lanfeed_read_allowlist file)
  file(STRINGS "${file}" lines)
  set(dll "")
  set(dlls)
  set(functions)
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "#.*" "" line "${line}")
    string(STRIP "${line}" line)
    if(line STREQUAL "")
      continue()
    elseif(line MATCHES "^\\[(.+\\.dll)\\]$")
      string(TOLOWER "${CMAKE_MATCH_1}" dll)
      list(APPEND dlls "${dll}")
      set("in_${dll}")
    elseif(dll STREQUAL "")
      message(FATAL_ERROR "${file}: ${line} stands before any [name.dll] section")
    else()
      list(APPEND functions "${line}")
      list(APPEND "in_${dll}" "${line}")
    endif()
  endforeach()
  set(ALLOWLIST_DLLS "${dlls}" PARENT_SCOPE)
  set(ALLOWLIST_FUNCTIONS "${functions}" PARENT_SCOPE)
  foreach(dll IN LISTS dlls)
    set("ALLOWLIST_IN_${dll}" "${in_${dll}}" PARENT_SCOPE)
  endforeach()
endfunction()
