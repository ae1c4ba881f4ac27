# Checks that a device library calls only system functions that Windows CE
# offers. Lists the functions that the project's own objects linked into the
# library import (their undefined __imp_ symbols), and fails on any that the
# allow-list does not hold. The objects are the ones the library's link map
# names: its own objects and the members of the project's archives that the
# linker took. Imports of the toolchain's C runtime are left out (the device's
# toolchain brings its own runtime); winpthreads and libgcc are linked
# statically and import nothing through __imp_ symbols of their own here.
#
# Run from the build folder (the map's paths are relative to it) with
#   -DNM=<nm> -DMAP=<library's link map> -DALLOWLIST=<file> -DRUNTIME=<C runtime import library>
#   -DDECORATED=ON on i686, where the symbols read __imp__Name@N.
foreach(var NM MAP ALLOWLIST RUNTIME)
  if(NOT DEFINED ${var} OR "${${var}}" STREQUAL "")
    message(FATAL_ERROR "check_imports: ${var} is not given")
  endif()
endforeach()

# The allow-list: one function a line; '#' starts a comment.
file(STRINGS "${ALLOWLIST}" allow_lines)
set(allowed)
foreach(line IN LISTS allow_lines)
  string(REGEX REPLACE "#.*" "" line "${line}")
  string(STRIP "${line}" line)
  if(NOT line STREQUAL "")
    list(APPEND allowed "${line}")
  endif()
endforeach()

# The C runtime's imports: every __imp_ symbol its import library defines.
execute_process(COMMAND ${NM} --defined-only "${RUNTIME}" OUTPUT_VARIABLE runtime_dump
                ERROR_QUIET RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${NM} ${RUNTIME} failed: ${rc}")
endif()
string(REGEX MATCHALL " __imp_[^\n]+" runtime_symbols "${runtime_dump}")
list(TRANSFORM runtime_symbols STRIP)

# The project's objects in the link map: loaded objects and archive members,
# by relative path (the toolchain's own files have absolute paths).
file(STRINGS "${MAP}" map_lines)
set(objects)
set(members)  # archive:member
foreach(line IN LISTS map_lines)
  if(line MATCHES "^LOAD ([^/][^ ]*\\.(obj|o))$")
    list(APPEND objects "${CMAKE_MATCH_1}")
  elseif(line MATCHES "^([^ /][^ (]*\\.a)\\(([^)]+)\\)")
    list(APPEND members "${CMAKE_MATCH_1}:${CMAKE_MATCH_2}")
  endif()
endforeach()
list(REMOVE_DUPLICATES members)
if(NOT objects)
  message(FATAL_ERROR "${MAP} names no object of the project")
endif()

# "file: U symbol" lines for every object and archive (nm -A prefixes each line
# with "object:" or "archive:member:").
set(archives)
foreach(member IN LISTS members)
  string(REGEX REPLACE ":.*" "" archive "${member}")
  list(APPEND archives "${archive}")
endforeach()
list(REMOVE_DUPLICATES archives)
execute_process(COMMAND ${NM} -A -u ${objects} ${archives} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${NM} failed: ${rc}")
endif()
string(REGEX MATCHALL "[^\n]+: +U __imp_[^\n]+" entries "${dump}")

set(functions)
set(offences)
foreach(entry IN LISTS entries)
  string(REGEX MATCH "^(.+): +U (__imp_.+)$" ignored "${entry}")
  set(where "${CMAKE_MATCH_1}")
  set(symbol "${CMAKE_MATCH_2}")
  # Archive lines count only for the members the linker took.
  if(where MATCHES "\\.a:")
    list(FIND members "${where}" taken)
    if(taken EQUAL -1)
      continue()
    endif()
  endif()
  list(FIND runtime_symbols "${symbol}" in_runtime)
  if(NOT in_runtime EQUAL -1)
    continue()
  endif()
  string(REGEX REPLACE "^__imp_" "" name "${symbol}")
  if(DECORATED)
    string(REGEX REPLACE "^_" "" name "${name}")
    string(REGEX REPLACE "@[0-9]+$" "" name "${name}")
  endif()
  list(APPEND functions "${name}")
  list(FIND allowed "${name}" known)
  if(known EQUAL -1)
    list(APPEND offences "${name} (${where})")
  endif()
endforeach()

list(REMOVE_DUPLICATES functions)
list(SORT functions)
list(LENGTH functions count)
string(REPLACE ";" " " text "${functions}")
get_filename_component(library "${MAP}" NAME_WE)
message(STATUS "${library} calls ${count} system functions: ${text}")
if(offences)
  list(REMOVE_DUPLICATES offences)
  string(REPLACE ";" "\n  " text "${offences}")
  message(FATAL_ERROR "${library} calls functions outside the Windows CE allow-list "
                      "(${ALLOWLIST}):\n  ${text}")
endif()
