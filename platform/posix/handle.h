#pragma once

#include "platform/kernel32.h"

// A handle on POSIX is the file descriptor itself. Descriptors are never
// negative, so no open file can look like INVALID_HANDLE_VALUE.
static inline HANDLE HandleOf(int Fd) {
  return (HANDLE)(__INTPTR_TYPE__)Fd;
}

static inline int FdOf(HANDLE Handle) {
  return (int)(__INTPTR_TYPE__)Handle;
}
