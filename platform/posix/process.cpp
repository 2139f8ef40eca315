// The process: its entry from the C library, standard output and the exit.
#include <signal.h>
#include <unistd.h>

#include "display/start.h"
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

int main() {
  // A write to a pipe whose reader has gone must fail like any other write,
  // as it does on Windows, not kill the process with SIGPIPE.
  signal(SIGPIPE, SIG_IGN);
  Start();
}
