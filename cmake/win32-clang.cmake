# showfile.exe for every 32-bit Windows, from 95 and NT 4.0 on, on any x86
# from the 80386 on. Link-time optimization makes its code smaller across
# the program's files; it takes two of the file's 512-byte blocks.
set(SHOWFILE_WINDOWS_TRIPLE i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(SHOWFILE_WINDOWS_CPU i386)
set(SHOWFILE_WINDOWS_VERSION 4.0)
set(SHOWFILE_WINDOWS_LTO ON)
include(${CMAKE_CURRENT_LIST_DIR}/windows-clang.cmake)
