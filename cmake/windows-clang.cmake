# Cross-compiles for Windows with clang and lld, against the MinGW-w64
# Windows headers. Nothing from a C or C++ runtime is linked: the program's
# entry is its own, and its one library is kernel32. A toolchain file for one
# Windows sets SHOWFILE_WINDOWS_TRIPLE (the target), SHOWFILE_WINDOWS_CPU
# (the processor the code is for), SHOWFILE_WINDOWS_VERSION (the least
# Windows the image declares) and SHOWFILE_WINDOWS_LTO, then includes this.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_CXX_COMPILER_TARGET ${SHOWFILE_WINDOWS_TRIPLE})
set(CMAKE_RC_COMPILER "")

# Probing the compiler must not need a runtime to link against.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
set(CMAKE_CXX_STANDARD_LIBRARIES "" CACHE STRING "" FORCE)

set(CMAKE_FIND_ROOT_PATH /usr/${SHOWFILE_WINDOWS_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
