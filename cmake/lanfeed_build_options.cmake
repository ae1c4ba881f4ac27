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
endif()
