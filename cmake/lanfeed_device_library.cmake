# How the device's libraries (LanFeedPlugin, LanFeedSetup) are built.
#
# On Windows the shipped libraries are built as the handheld needs them:
# their code and their own build of the platform layer (lanfeed_platform_device)
# are compiled without exceptions and RTTI, into one section per function and
# datum; the link takes no compiler runtime and no startup code (-nostdlib),
# only the small runtime of platform/win32/device_runtime.cpp with its entry
# routine, libgcc's helpers (which import nothing) and the system's import
# libraries; unused sections are dropped and the symbols stripped. What they
# import is checked against cmake/wince_api_allowlist.txt
# (tests/support/check_imports.cmake), and on i686 the same objects are linked
# once more against the handheld's own DLL names (cmake/lanfeed_device_link.cmake).
if(WIN32)
  add_library(lanfeed_device_options INTERFACE)
  target_link_libraries(lanfeed_device_options INTERFACE lanfeed_build_options)
  target_compile_options(lanfeed_device_options INTERFACE
    -fno-exceptions -fno-rtti -ffunction-sections -fdata-sections)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    # No unwind tables: nothing unwinds through these frames. (x86_64 keeps
    # its .pdata, which the system itself uses to walk the stack.)
    target_compile_options(lanfeed_device_options INTERFACE
      -fno-asynchronous-unwind-tables -fno-unwind-tables)
    set(LANFEED_DEVICE_ENTRY _LanFeedDllEntry@12)
  else()
    set(LANFEED_DEVICE_ENTRY LanFeedDllEntry)
  endif()
  # The system import libraries behind the allow-list's functions on desktop
  # Windows (and under Wine), in link order.
  set(LANFEED_DEVICE_SYSTEM_LIBS ws2_32 ole32 user32 advapi32 kernel32 msvcrt)
endif()

# lanfeed_device_compile_file_by_file(<target>): the device libraries' code is
# compiled one file at a time, never in unity batches. The linker drops unused
# code by sections, but keeps more of a batched object: batched, LanFeedSetup
# more than doubles in size.
function(lanfeed_device_compile_file_by_file target)
  set_target_properties(${target} PROPERTIES UNITY_BUILD OFF)
endfunction()

# lanfeed_add_device_library(<Name> <stem> SOURCES <files...>)
#
# One of the device's libraries, from the folder that calls it:
# - <stem>_objects, the sources compiled for the tests, and <stem>_core, the
#   same objects as a static library that the tests link;
# - <Name>, the deliverable: a shared library without the "lib" prefix that
#   exports only what <Name>.def (Windows) or exports.map (elsewhere) names.
#   On Windows it is built from <stem>_device_objects, the same sources with
#   the device options, carries the version resource <Name>.rc, and writes
#   its link map <Name>.map into the build folder (read by the import check).
#   Elsewhere it is linked from <stem>_objects and keeps the C++ runtime.
function(lanfeed_add_device_library name stem)
  cmake_parse_arguments(A "" "" "SOURCES" ${ARGN})
  set(dir ${CMAKE_CURRENT_SOURCE_DIR})

  add_library(${stem}_objects OBJECT ${A_SOURCES})
  target_link_libraries(${stem}_objects PUBLIC lanfeed_platform)

  add_library(${stem}_core STATIC $<TARGET_OBJECTS:${stem}_objects>)
  target_link_libraries(${stem}_core PUBLIC lanfeed_platform)

  if(WIN32)
    add_library(${stem}_device_objects OBJECT ${A_SOURCES})
    target_link_libraries(${stem}_device_objects PUBLIC lanfeed_device_options)
    lanfeed_device_compile_file_by_file(${stem}_device_objects)
    add_library(${name} SHARED $<TARGET_OBJECTS:${stem}_device_objects>
                $<TARGET_OBJECTS:lanfeed_device_runtime> ${dir}/${name}.def ${dir}/${name}.rc)
    target_link_libraries(${name} PRIVATE lanfeed_platform_device lanfeed_version gcc
                          ${LANFEED_DEVICE_SYSTEM_LIBS})
    target_link_options(${name} PRIVATE -nostdlib -s LINKER:--gc-sections
                        LINKER:-e,${LANFEED_DEVICE_ENTRY}
                        LINKER:-Map=${CMAKE_CURRENT_BINARY_DIR}/${name}.map)
    # windres writes no dependency file: name the generated header.
    set_property(SOURCE ${dir}/${name}.rc APPEND PROPERTY OBJECT_DEPENDS
                 ${PROJECT_BINARY_DIR}/generated/lanfeed_version.h)
  else()
    add_library(${name} SHARED $<TARGET_OBJECTS:${stem}_objects>)
    target_link_libraries(${name} PRIVATE lanfeed_platform)
    set_target_properties(${name} PROPERTIES LINK_DEPENDS ${dir}/exports.map)
    target_link_options(${name} PRIVATE -Wl,--version-script=${dir}/exports.map
                        -Wl,--exclude-libs,ALL)
  endif()
  set_target_properties(${name} PROPERTIES PREFIX "")
endfunction()
