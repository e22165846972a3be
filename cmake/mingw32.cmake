# Cross build for 32-bit Windows consoles with Debian's mingw-w64 (i686), whose
# executables ctest runs through wine on the build machine.
#
#   cmake --preset mingw32 && cmake --build --preset mingw32 && ctest --preset mingw32
#
# scripts/windows-test.sh installs the compilers and wine, makes the wine prefix
# and runs all of it, the command-line suite included.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(MINGW_TRIPLET i686-w64-mingw32)

# Debian installs each compiler twice: "-win32" (the default alternative) has no
# std::thread in GCC 12, "-posix" has it through winpthreads. Take the one with
# threads when it is there; -static below keeps its runtime inside the .exe.
# GoogleTest's own project also enables C, so both compilers are set.
find_program(MINGW_CXX NAMES ${MINGW_TRIPLET}-g++-posix ${MINGW_TRIPLET}-g++ NO_CACHE)
find_program(MINGW_CC NAMES ${MINGW_TRIPLET}-gcc-posix ${MINGW_TRIPLET}-gcc NO_CACHE)
if(NOT MINGW_CXX OR NOT MINGW_CC)
  message(FATAL_ERROR "${MINGW_TRIPLET}-g++ not found: apt-get install g++-mingw-w64-i686")
endif()
set(CMAKE_CXX_COMPILER ${MINGW_CXX})
set(CMAKE_C_COMPILER ${MINGW_CC})
set(CMAKE_RC_COMPILER ${MINGW_TRIPLET}-windres)

# Every Windows since 8 runs only on processors with SSE2, and the program's
# 16-bytes-a-step paths (#ifdef __SSE2__) are the ones worth testing: the i686
# compiler's default is a Pentium Pro without it. Floating point goes to SSE too,
# so no value changes precision on its way through the x87 stack.
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")

# Libraries, headers and packages come from the target's root only, so that the
# host's GoogleTest (or anything else in /usr) is never picked up; programs run
# during the build are the host's.
set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Every executable, the tests too, carries the C++ runtime, libgcc and winpthreads,
# so wine (or a bare Windows) needs no DLL beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# How ctest, and gtest_discover_tests when it lists the tests, run a .exe: wine,
# in a prefix of its own under build/ (or $WINEPREFIX when it is set at configure
# time), silent, without the .NET and HTML engines whose installers would ask for
# a download, and with no display, so it runs the same on a headless machine.
# (The CR LF that a Windows program writes to its standard output need no care:
# both ctest and the test listing's execute_process read CR LF as LF.)
if(DEFINED ENV{WINEPREFIX} AND NOT "$ENV{WINEPREFIX}" STREQUAL "")
  set(MAVO_WINEPREFIX "$ENV{WINEPREFIX}" CACHE PATH "wine prefix for running the tests")
else()
  get_filename_component(_mavo_source_dir "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
  set(MAVO_WINEPREFIX "${_mavo_source_dir}/build/wine" CACHE PATH "wine prefix for running the tests")
endif()
find_program(MAVO_WINE NAMES wine NO_CACHE)
if(NOT MAVO_WINE)
  set(MAVO_WINE wine)  # not installed yet: the build works, the tests say so when run
endif()
set(CMAKE_CROSSCOMPILING_EMULATOR
  env -u DISPLAY -u WAYLAND_DISPLAY
      WINEPREFIX=${MAVO_WINEPREFIX} WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=
      ${MAVO_WINE})
