#pragma once

#include "platform/kernel32.h"

// Everything the program keeps, in one record that lives as long as the
// process and starts out all zero.
struct PROGRAM_STATE {
  HANDLE FileHandle; // test.txt while it is open; not cleared after the close
  DWORD FileSize;    // low 32 bits of test.txt's length
  LPSTR Text;        // FileSize + 1 zero-filled bytes that receive the file
  DWORD BytesRead;   // what the read reports; nothing looks at it afterwards
  HANDLE Heap;       // the process's default heap, taken once at start-up
};

extern PROGRAM_STATE ProgramState;
