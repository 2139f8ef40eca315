// The end of the process.
#include <unistd.h>

#include "platform/kernel32.h"

VOID WINAPI ExitProcess(UINT ExitCode) {
  // At once, like kernel32: there is no stdio to flush and nothing to run.
  _exit((int)ExitCode);
}
