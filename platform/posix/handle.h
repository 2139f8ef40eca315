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

// What one read or write call is asked to move of the Count bytes left: no
// more than 1 GiB, since Linux stops just short of 2 GiB anyway and other
// systems may refuse counts above SSIZE_MAX.
static inline DWORD StepOf(DWORD Count) {
  const DWORD LargestStep = 1u << 30;
  return Count < LargestStep ? Count : LargestStep;
}
