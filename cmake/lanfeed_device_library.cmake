# lanfeed_add_device_library(<Name> <stem> SOURCES <files...>)
#
# One of the device's libraries (LanFeedPlugin, LanFeedSetup), from the folder
# that calls it. The sources compile once into the object library
# <stem>_objects, shared by:
# - <stem>_core, the same objects as a static library for the tests;
# - <Name>, the deliverable: a shared library without the "lib" prefix that
#   exports only what <Name>.def (Windows) or exports.map (elsewhere) names.
#   On Windows it carries the version resource <Name>.rc, built from the
#   generated version header, and its link map <Name>.map in the build folder
#   tells the import check which platform objects it holds
#   (tests/support/check_imports.cmake).
function(lanfeed_add_device_library name stem)
  cmake_parse_arguments(A "" "" "SOURCES" ${ARGN})
  set(dir ${CMAKE_CURRENT_SOURCE_DIR})

  add_library(${stem}_objects OBJECT ${A_SOURCES})
  target_link_libraries(${stem}_objects PUBLIC lanfeed_platform)

  add_library(${stem}_core STATIC $<TARGET_OBJECTS:${stem}_objects>)
  target_link_libraries(${stem}_core PUBLIC lanfeed_platform)

  add_library(${name} SHARED $<TARGET_OBJECTS:${stem}_objects>)
  target_link_libraries(${name} PRIVATE lanfeed_platform)
  set_target_properties(${name} PROPERTIES PREFIX "")
  if(WIN32)
    target_sources(${name} PRIVATE ${dir}/${name}.def ${dir}/${name}.rc)
    target_link_libraries(${name} PRIVATE lanfeed_version)
    # windres writes no dependency file: name the generated header.
    set_property(SOURCE ${dir}/${name}.rc APPEND PROPERTY OBJECT_DEPENDS
                 ${PROJECT_BINARY_DIR}/generated/lanfeed_version.h)
    target_link_options(${name} PRIVATE LINKER:-Map=${CMAKE_CURRENT_BINARY_DIR}/${name}.map)
  else()
    set_target_properties(${name} PROPERTIES LINK_DEPENDS ${dir}/exports.map)
    target_link_options(${name} PRIVATE -Wl,--version-script=${dir}/exports.map
                        -Wl,--exclude-libs,ALL)
  endif()
endfunction()
