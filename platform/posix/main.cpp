// The C library's entry hands over to the program's own, Start, which the
// Windows build names to its linker as the image's entry point.
#include <signal.h>

extern "C" [[noreturn]] void Start();

int main() {
  // A write to a pipe whose reader has gone, or past the file-size limit,
  // must fail like any other write, as it does on Windows, not kill the
  // process with SIGPIPE or SIGXFSZ. Blocked, the signals stay pending and
  // the write fails all the same, for one system call where ignoring them
  // takes one each.
  sigset_t Fatal;
  sigemptyset(&Fatal);
  sigaddset(&Fatal, SIGPIPE);
  sigaddset(&Fatal, SIGXFSZ);
  sigprocmask(SIG_BLOCK, &Fatal, 0);
  Start();
}
