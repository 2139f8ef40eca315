// The process: standard output and the exit.
#include <unistd.h>

#include "platform/posix/handle.h"

HANDLE WINAPI GetStdHandle(DWORD StdHandle) {
  switch (StdHandle) {
  case STD_INPUT_HANDLE:
    return HandleOf(STDIN_FILENO);
  case STD_OUTPUT_HANDLE:
    return HandleOf(STDOUT_FILENO);
  case STD_ERROR_HANDLE:
    return HandleOf(STDERR_FILENO);
  }
  return INVALID_HANDLE_VALUE;
}

VOID WINAPI ExitProcess(UINT ExitCode) {
  // At once, like kernel32: there is no stdio to flush and nothing to run.
  _exit((int)ExitCode);
}
