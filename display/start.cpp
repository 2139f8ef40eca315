#include "display/start.h"

#include "display/program_state.h"
#include "display/show_file.h"

PROGRAM_STATE ProgramState;

extern "C" void Start() {
  ProgramState.Heap = GetProcessHeap();
  ShowFile();
  ExitProcess(0);
}
