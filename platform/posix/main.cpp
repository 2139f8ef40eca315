// The C library's entry hands over to the program's own, Start, which the
// Windows build names to its linker as the image's entry point.
#include <signal.h>

extern "C" [[noreturn]] void Start();

int main() {
  // A write to a pipe whose reader has gone, or past the file-size limit,
  // must fail like any other write, as it does on Windows, not kill the
  // process with SIGPIPE or SIGXFSZ.
  signal(SIGPIPE, SIG_IGN);
  signal(SIGXFSZ, SIG_IGN);
  Start();
}
