# Cross-compiles for 64-bit Windows with Debian's mingw-w64.
# The -posix compilers: the default win32 thread model has no std::thread.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VK5_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VK5_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VK5_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${VK5_MINGW_TRIPLE}-windres)

# Libraries and headers come from the mingw sysroot only: the build machine's
# /usr/include would shadow the Windows C runtime headers.
set(CMAKE_FIND_ROOT_PATH /usr/${VK5_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# ctest runs the test programs through Wine when it is there. Debian's wine64
# package keeps its loader out of PATH unless the wine package is installed too.
find_program(VK5_WINE64 NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(VK5_WINE64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${VK5_WINE64})
endif()
