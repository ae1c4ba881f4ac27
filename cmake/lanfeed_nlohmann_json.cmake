# nlohmann-json (header-only) as the target nlohmann_json::nlohmann_json,
# visible to the whole build.
#
# Natively: its own CMake package (Debian's nlohmann-json3-dev).
# MinGW builds use the same headers. The package's include folder is
# /usr/include, which also holds the native C library's headers; as an
# include folder of a MinGW compile it would be searched before MinGW's own
# and <stdio.h> would be glibc's. So the package is found on the build
# machine only for its version and location, and its target is given an
# include folder of its own in the build tree that holds nothing but a link
# to the nlohmann/ folder.
if(TARGET nlohmann_json::nlohmann_json)
  return()
endif()
if(NOT CMAKE_CROSSCOMPILING)
  find_package(nlohmann_json 3 REQUIRED)
  set_target_properties(nlohmann_json::nlohmann_json PROPERTIES IMPORTED_GLOBAL TRUE)
  return()
endif()

# The build machine's package: CMAKE_FIND_ROOT_PATH (the MinGW sysroot) has none.
find_package(nlohmann_json 3 REQUIRED CONFIG NO_CMAKE_FIND_ROOT_PATH)
get_target_property(lanfeed_json_includes nlohmann_json::nlohmann_json INTERFACE_INCLUDE_DIRECTORIES)
set(lanfeed_json_headers "")
foreach(dir IN LISTS lanfeed_json_includes)
  if(EXISTS "${dir}/nlohmann/json.hpp")
    set(lanfeed_json_headers "${dir}/nlohmann")
    break()
  endif()
endforeach()
if(lanfeed_json_headers STREQUAL "")
  message(FATAL_ERROR "nlohmann_json ${nlohmann_json_VERSION}: no nlohmann/json.hpp in ${lanfeed_json_includes}")
endif()
set(lanfeed_json_include "${CMAKE_BINARY_DIR}/deps/nlohmann_json/include")
file(MAKE_DIRECTORY "${lanfeed_json_include}")
if(NOT IS_SYMLINK "${lanfeed_json_include}/nlohmann")
  file(CREATE_LINK "${lanfeed_json_headers}" "${lanfeed_json_include}/nlohmann" SYMBOLIC)
endif()
set_target_properties(nlohmann_json::nlohmann_json PROPERTIES
  IMPORTED_GLOBAL TRUE
  INTERFACE_INCLUDE_DIRECTORIES "${lanfeed_json_include}")
message(STATUS "nlohmann_json ${nlohmann_json_VERSION}: headers of ${lanfeed_json_headers} through ${lanfeed_json_include}")
