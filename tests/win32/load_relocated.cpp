// load_relocated.exe: loads showfile.dll from its own directory. That is a
// copy of showfile.exe with only the DLL bit of its file header set, so the
// same code, data and relocations. This program's own image takes the base
// that showfile's is linked for, so the loader must move showfile and apply
// its relocations; showfile's entry then runs as the DLL's entry, shows
// test.txt and ends the process. Exit code 3 when the load fails.
#include "platform/kernel32.h"

extern "C" [[noreturn]] void Host() {
  LoadLibraryA("showfile.dll");
  ExitProcess(3);
}
