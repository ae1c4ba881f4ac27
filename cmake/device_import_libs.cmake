# Makes, from the allow-list (cmake/wince_api_allowlist.txt), what the
# device-linked i686 build of the device libraries links against and runs
# with under Wine, into OUT:
# - <dll>.def and lib<stem>.a for each of the handheld's DLLs (coredll.dll,
#   ws2.dll, ole32.dll): import libraries that offer exactly the listed
#   functions under the handheld's DLL names, so that a function missing from
#   the list fails the link;
# - <dll>.forward.def for coredll.dll and ws2.dll: export tables of test-only
#   DLLs that forward exactly the listed functions to the desktop DLLs that
#   hold them (KERNEL32, USER32, ADVAPI32, msvcrt, WS2_32), so that under
#   Wine the variant loads through them.
# The symbol decorations (i686: a leading underscore, and __stdcall's @N)
# and the desktop DLL of each function come from the toolchain's import
# libraries.
#
# Run with -DNM=<nm> -DDLLTOOL=<dlltool> -DALLOWLIST=<file> -DLIBDIR=<folder of
# the toolchain's import libraries> -DOUT=<folder> [-DSYMBOL_PREFIX=_ on i686].
foreach(var NM DLLTOOL ALLOWLIST LIBDIR OUT)
  if(NOT DEFINED ${var} OR "${${var}}" STREQUAL "")
    message(FATAL_ERROR "device_import_libs: ${var} is not given")
  endif()
endforeach()
file(MAKE_DIRECTORY "${OUT}")

# Every __imp_ symbol of the desktop import libraries: name -> decorated name
# and the DLL that exports it (the first library that has it wins).
set(known)
foreach(desktop kernel32 user32 advapi32 msvcrt ws2_32 ole32)
  execute_process(COMMAND ${NM} --defined-only "${LIBDIR}/lib${desktop}.a"
                  OUTPUT_VARIABLE symbols ERROR_QUIET RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${NM} ${LIBDIR}/lib${desktop}.a failed: ${rc}")
  endif()
  string(REGEX MATCHALL " I __imp_${SYMBOL_PREFIX}[A-Za-z_][A-Za-z0-9_]*(@[0-9]+)?\n" imports "${symbols}")
  foreach(symbol IN LISTS imports)
    string(REGEX REPLACE "^ I __imp_${SYMBOL_PREFIX}|\n$" "" decorated "${symbol}")
    string(REGEX REPLACE "@[0-9]+$" "" name "${decorated}")
    if(NOT DEFINED "decorated_${name}")
      set("decorated_${name}" "${decorated}")
      set("desktop_${name}" "${desktop}")
    endif()
  endforeach()
endforeach()

include(${CMAKE_CURRENT_LIST_DIR}/read_allowlist.cmake)
lanfeed_read_allowlist("${ALLOWLIST}")
set(sections)
foreach(dll IN LISTS ALLOWLIST_DLLS)
  string(REGEX REPLACE "\\.dll$" "" section "${dll}")
  list(APPEND sections "${section}")
  set("imports_${section}" "LIBRARY ${dll}\nEXPORTS\n")
  set("forwards_${section}" "LIBRARY ${dll}\nEXPORTS\n")
  foreach(function IN LISTS "ALLOWLIST_IN_${dll}")
    if(NOT DEFINED "decorated_${function}")
      message(FATAL_ERROR "${function} (${dll}) is in no import library of the toolchain: check its name")
    endif()
    string(APPEND "imports_${section}" "  ${decorated_${function}}\n")
    string(APPEND "forwards_${section}" "  ${function}=${desktop_${function}}.${function}\n")
  endforeach()
endforeach()

foreach(section IN LISTS sections)
  file(WRITE "${OUT}/${section}.def" "${imports_${section}}")
  file(WRITE "${OUT}/${section}.forward.def" "${forwards_${section}}")
  # --kill-at: the functions are imported under their plain names, as the
  # handheld's DLLs export them, while the objects call the decorated ones.
  execute_process(COMMAND ${DLLTOOL} --kill-at -d "${OUT}/${section}.def" -D "${section}.dll"
                          -l "${OUT}/lib${section}.a"
                  RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${DLLTOOL} for ${section}.dll failed: ${rc}")
  endif()
endforeach()
