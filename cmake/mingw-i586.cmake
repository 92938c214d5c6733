# Toolchain for quorvane.exe: mingw-w64 for 32-bit Windows, code for i586
# (Pentium MMX, AMD K6, Cyrix: no cmov, no SSE), win32 thread model (no
# winpthreads DLL). Use: cmake -S . -B build/win -G Ninja
#                              -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i586.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_VERSION 4.0)
set(CMAKE_SYSTEM_PROCESSOR i586)

set(QV_MINGW i686-w64-mingw32)
# The -win32 compilers by name, so the build does not depend on which thread
# model the system's alternatives point at.
find_program(CMAKE_C_COMPILER NAMES ${QV_MINGW}-gcc-win32 ${QV_MINGW}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${QV_MINGW}-g++-win32 ${QV_MINGW}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${QV_MINGW}-windres REQUIRED)
find_program(QV_OBJDUMP NAMES ${QV_MINGW}-objdump REQUIRED)
find_program(QV_OBJCOPY NAMES ${QV_MINGW}-objcopy REQUIRED)

set(CMAKE_FIND_ROOT_PATH /usr/${QV_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Every object of the Windows build is made for i586, the test programs too.
set(CMAKE_C_FLAGS_INIT "-march=i586 -mtune=pentium")
set(CMAKE_CXX_FLAGS_INIT "-march=i586 -mtune=pentium")
# Optimised, without debug information, unless asked otherwise.
set(CMAKE_BUILD_TYPE Release CACHE STRING "Build type")
set(CMAKE_C_FLAGS_RELEASE_INIT "-O2 -DNDEBUG")
set(CMAKE_CXX_FLAGS_RELEASE_INIT "-O2 -DNDEBUG")

# Test programs run under Wine, in the project's own prefix.
find_program(QV_WINE NAMES wine)
if(QV_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${QV_WINE})
endif()
