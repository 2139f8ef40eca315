// An in-memory kernel32 for unit tests: each test scripts what the calls
// return, runs the program's code, and reads back the calls it made. It knows
// nothing of the program: it names what it handed out itself.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/kernel32.h"

struct Script {
  bool OpenFails = false;
  std::string File;                         // what test.txt holds
  std::optional<unsigned long long> Length; // its length, when not File's
  DWORD ReadLimit = ~0u;                    // most bytes one read delivers
  bool ReadFails = false;                   // the read delivers, then fails
  DWORD WriteLimit = ~0u;                   // most bytes one write takes
  bool WriteFails = false;                  // the write takes, then fails
  // The count a write reports of the Taken bytes from Bytes, if not Taken.
  DWORD (*Reports)(const char *Bytes, DWORD Taken) = nullptr;
  DWORD RefusesOver = ~0u; // a longer write fails, taking nothing
  int FailingWrite = 0;    // this write (1: the first) fails, taking nothing
  bool HeapRefuses = false;
};

struct Outcome {
  std::vector<std::string> Calls; // e.g. "ReadFile(file, block, 3, &count, 0)"
  std::string Output;             // bytes written to standard output
  int ExitCode = -1;              // -1: the routine returned instead; -2: it was
                                  // stopped after more writes than any text needs
  size_t BlocksHeld = 0;          // heap blocks not given back
};

// Scripts the platform, runs Routine, and reports what it did. ExitProcess
// ends the routine as it would end the process.
Outcome Run(const Script &Setup, void (*Routine)());
