# 64-bit Linux on IBM Z: big-endian.
set(SHOWFILE_TRIPLE s390x-linux-gnu)
set(SHOWFILE_QEMU s390x)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
