# showfile.exe for 64-bit Windows on x86-64, from Windows XP x64 and Server
# 2003 x64 (5.2) on, for where no 32-bit program runs. Its code takes two
# blocks of the file either way; without link-time optimization a
# relocation table stays, which is what lets Windows move the image.
set(SHOWFILE_WINDOWS_TRIPLE x86_64-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(SHOWFILE_WINDOWS_CPU x86-64)
set(SHOWFILE_WINDOWS_VERSION 5.2)
set(SHOWFILE_WINDOWS_LTO OFF)
include(${CMAKE_CURRENT_LIST_DIR}/windows-clang.cmake)
