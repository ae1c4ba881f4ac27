# Checks a linked device library (a Windows DLL) for what the handheld lacks:
# - every function in its import table must be on the allow-list of what the
#   handheld's system offers (cmake/wince_api_allowlist.txt), whichever
#   object brought it in (the project's code, libgcc, anything); with
#   DEVICE_NAMES, each must also come from the handheld's DLL that the list
#   files it under (coredll.dll, ws2.dll, ole32.dll);
# - nothing is imported by ordinal only (the list names functions);
# - no thread-local storage (no TLS directory, no .tls section): the
#   handheld's DLLs cannot have it;
# - with MAP (the library's link map): no object contributes static
#   constructors, destructors or TLS callbacks, which the libraries' own
#   entry routine never runs.
# Every finding is listed before the check fails.
#
# Run with -DOBJDUMP=<objdump> -DLIBRARY=<dll> -DALLOWLIST=<file>
#          [-DMAP=<link map>] [-DDEVICE_NAMES=ON]
foreach(var OBJDUMP LIBRARY ALLOWLIST)
  if(NOT DEFINED ${var} OR "${${var}}" STREQUAL "")
    message(FATAL_ERROR "check_imports: ${var} is not given")
  endif()
endforeach()

include(${CMAKE_CURRENT_LIST_DIR}/../../cmake/read_allowlist.cmake)
lanfeed_read_allowlist("${ALLOWLIST}")

execute_process(COMMAND ${OBJDUMP} -p "${LIBRARY}" OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p ${LIBRARY} failed: ${rc}")
endif()
get_filename_component(library "${LIBRARY}" NAME)

# The import tables: "DLL Name: X" opens one DLL's list, each import a line
# "<vma> <hint> <name>" (an import by ordinal alone has no name).
string(REPLACE "\n" ";" dump_lines "${dump}")
set(findings)
set(functions)
set(dll "")
foreach(line IN LISTS dump_lines)
  if(line MATCHES "^\tDLL Name: (.+)$")
    string(TOLOWER "${CMAKE_MATCH_1}" dll)
    continue()
  endif()
  if(dll STREQUAL "")
    continue()
  endif()
  if(line MATCHES "^\t[0-9a-f]+\t +[0-9]+ +([A-Za-z_][A-Za-z0-9_@]*)$")
    set(name "${CMAKE_MATCH_1}")
    list(APPEND functions "${name}")
    if(DEVICE_NAMES)
      list(FIND "ALLOWLIST_IN_${dll}" "${name}" known)
    else()
      list(FIND ALLOWLIST_FUNCTIONS "${name}" known)
    endif()
    if(known EQUAL -1)
      list(APPEND findings "import outside the allow-list: ${name} (${dll})")
    endif()
  elseif(line MATCHES "^\t[0-9a-f]+\t +[0-9]+ *(<none>)?$")
    list(APPEND findings "import by ordinal only from ${dll}: ${line}")
  elseif(line MATCHES "^ *$")
    set(dll "")
  endif()
endforeach()

if(dump MATCHES "Entry 9 ([0-9a-f]+) ([0-9a-f]+) Thread Storage Directory")
  if(NOT CMAKE_MATCH_1 MATCHES "^0+$")
    list(APPEND findings "thread-local storage: a TLS directory")
  endif()
endif()
execute_process(COMMAND ${OBJDUMP} -h "${LIBRARY}" OUTPUT_VARIABLE sections RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -h ${LIBRARY} failed: ${rc}")
endif()
if(sections MATCHES "[ \t]\\.tls[ \t\n$]")
  list(APPEND findings "thread-local storage: a .tls section")
endif()

# The link map names each input section with its size and object, on one
# line or, after a long name, on the next: " .ctors  0x<address>  0x<size> <object>".
if(DEFINED MAP AND NOT MAP STREQUAL "")
  file(READ "${MAP}" map)
  string(REGEX MATCHALL "\n \\.(ctors|dtors|init_array|fini_array|tls|CRT\\$X[CDLIPT])[^ \n]*[ \n]+0x[0-9a-f]+ +0x[0-9a-f]+ +[^\n]+"
         contributions "${map}")
  foreach(entry IN LISTS contributions)
    string(REGEX MATCH "^\n (\\.[^ \n]+)[ \n]+0x[0-9a-f]+ +0x([0-9a-f]+) +(.+)$" ignored "${entry}")
    set(input_section "${CMAKE_MATCH_1}")
    set(size "${CMAKE_MATCH_2}")
    set(object "${CMAKE_MATCH_3}")
    if(NOT size MATCHES "^0+$")
      list(APPEND findings "static constructor, destructor or TLS data: ${input_section} from ${object}")
    endif()
  endforeach()
endif()

list(REMOVE_DUPLICATES functions)
list(SORT functions)
list(LENGTH functions count)
string(REPLACE ";" " " text "${functions}")
message(STATUS "${library} imports ${count} functions: ${text}")
if(findings)
  list(REMOVE_DUPLICATES findings)
  string(REPLACE ";" "\n  " text "${findings}")
  message(FATAL_ERROR "${library} has what the handheld lacks (allow-list: ${ALLOWLIST}):\n  ${text}")
endif()
