# lanfeed_build_options: the compile and link settings of every LanFeed
# target. Link it (PUBLIC for libraries whose users need the same settings);
# lanfeed_platform does, so whatever links the platform layer gets them too.
add_library(lanfeed_build_options INTERFACE)
target_include_directories(lanfeed_build_options INTERFACE ${PROJECT_SOURCE_DIR})
if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  target_compile_options(lanfeed_build_options INTERFACE -Wall -Wextra -Wno-unused-parameter)
endif()
if(WIN32)
  target_compile_definitions(lanfeed_build_options INTERFACE
    UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
  # Self-contained binaries: no MinGW runtime DLLs beside the deliverables or
  # the test programs that Wine runs.
  target_link_options(lanfeed_build_options INTERFACE -static -static-libgcc -static-libstdc++)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    # Executables (not the DLLs, which run in their host's address space) may
    # use the upper 2 GiB that a 32-bit process gets on 64-bit Windows and
    # under Wine. Every thread reserves its stack from the address space
    # (under Wine at least 1 MiB), so this doubles the threads a 32-bit
    # process can have, to about 1,280: enough for the test that serves a
    # thousand clients at once. On the target, not in the toolchain file, so
    # that an existing build folder gets it too.
    target_link_options(lanfeed_build_options INTERFACE
      $<$<STREQUAL:$<TARGET_PROPERTY:TYPE>,EXECUTABLE>:-Wl,--large-address-aware>)
  endif()
endif()
