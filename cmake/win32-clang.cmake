# Cross-compiles for 32-bit Windows on i386 with clang and lld, against the
# MinGW-w64 Windows headers. Nothing from a C or C++ runtime is linked: the
# program's entry is its own, and its one library is kernel32.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_CXX_COMPILER_TARGET i686-w64-mingw32)

# Every 32-bit Windows from 95 and NT 4.0 on, on any x86 from the 80386 on.
set(SHOWFILE_WINDOWS_CPU i386)
set(SHOWFILE_WINDOWS_VERSION 4.0)
set(CMAKE_RC_COMPILER "")

# Probing the compiler must not need a runtime to link against.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
set(CMAKE_CXX_STANDARD_LIBRARIES "" CACHE STRING "" FORCE)

set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
