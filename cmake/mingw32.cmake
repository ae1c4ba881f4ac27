# i686 MinGW-w64 cross build, the layout of the 32-bit handheld; the tests run
# under 32-bit Wine (wine32:i386).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
# Executables (not the DLLs, which run in their host's address space) may use
# the upper 2 GiB that a 32-bit process gets on 64-bit Windows and under
# Wine. Every thread reserves its stack from the address space (under Wine at
# least 1 MiB), so this doubles the threads a 32-bit process can have, to
# about 1,280: enough for the test that serves a thousand clients at once.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-Wl,--large-address-aware")
