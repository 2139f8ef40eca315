# 32-bit Linux on x86, little-endian: the width of showfile's real target.
set(SHOWFILE_TRIPLE i686-linux-gnu)
set(SHOWFILE_QEMU i386)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
