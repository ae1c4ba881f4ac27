# Checks the export table of LanFeedSetup: exactly Install_Init, Install_Exit,
# Uninstall_Init and Uninstall_Exit, undecorated. On Windows also the version
# record. Run with -DTOOL=<objdump or nm> -DLIBRARY=<file> [-DRC=<windres>].
set(expected Install_Exit Install_Init Uninstall_Exit Uninstall_Init)

if(LIBRARY MATCHES "\\.dll$")
  execute_process(COMMAND ${TOOL} -p ${LIBRARY} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${TOOL} failed: ${rc}")
  endif()
  string(REGEX MATCH "\\[Ordinal/Name Pointer\\] Table\n([^\n]+\n)+" table "${dump}")
  string(REGEX MATCHALL "\\[ *[0-9]+\\] [^\n]+" entries "${table}")
  set(names)
  foreach(entry ${entries})
    string(REGEX REPLACE "^\\[ *[0-9]+\\] " "" name "${entry}")
    list(APPEND names "${name}")
  endforeach()
else()
  execute_process(COMMAND ${TOOL} -D --defined-only ${LIBRARY} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${TOOL} failed: ${rc}")
  endif()
  string(REGEX MATCHALL "[0-9a-fA-F]+ [TtWwDdBbRr] [^\n]+" entries "${dump}")
  set(names)
  foreach(entry ${entries})
    string(REGEX REPLACE "^[0-9a-fA-F]+ . " "" name "${entry}")
    list(APPEND names "${name}")
  endforeach()
endif()

list(SORT names)
if(NOT names STREQUAL expected)
  message(FATAL_ERROR "exports are '${names}', expected '${expected}'")
endif()
message(STATUS "exports: ${names}")

if(RC)
  execute_process(COMMAND ${RC} -i ${LIBRARY} -O rc OUTPUT_VARIABLE resources RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${RC} failed: ${rc}")
  endif()
  foreach(needle
      "FILEVERSION 1, 1, 0, 2"
      "PRODUCTVERSION 1, 1, 0, 2"
      "VALUE \"FileDescription\", \"LanFeedPlugin Setup dll\""
      "VALUE \"FileVersion\", \"1, 1, 0, 2\"")
    string(FIND "${resources}" "${needle}" at)
    if(at EQUAL -1)
      message(FATAL_ERROR "version record lacks: ${needle}")
    endif()
  endforeach()
endif()
