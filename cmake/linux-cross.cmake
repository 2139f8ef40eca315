# Cross-compiles for Linux on another processor with Debian's cross compilers,
# and runs what it builds under qemu's user-mode emulator. A toolchain file
# for one target sets SHOWFILE_TRIPLE (the compilers' prefix) and
# SHOWFILE_QEMU (the emulator's name for the processor), then includes this.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${SHOWFILE_QEMU})
set(CMAKE_C_COMPILER ${SHOWFILE_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${SHOWFILE_TRIPLE}-g++)

set(CMAKE_FIND_ROOT_PATH /usr/${SHOWFILE_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The unit tests use the target's shared C and C++ libraries, which qemu
# finds under the cross compilers' root.
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/bin/qemu-${SHOWFILE_QEMU}-static -L /usr/${SHOWFILE_TRIPLE})
