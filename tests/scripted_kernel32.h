// An in-memory kernel32 for unit tests: each test scripts what the calls
// return, runs the program's code, and reads back the calls it made.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/kernel32.h"

struct Script {
  bool OpenFails = false;
  std::string File;                  // what test.txt holds
  std::optional<DWORD> ReportedSize; // the size query's answer, when not File's length
  DWORD ReadLimit = ~0u;             // most bytes one read delivers
  bool HeapRefuses = false;
};

struct Outcome {
  std::vector<std::string> Calls; // e.g. "ReadFile(file, Text, 3, &BytesRead, 0)"
  std::string Output;             // bytes written to standard output
  int ExitCode = -1;              // -1: the routine returned instead
  size_t BlocksHeld = 0;          // heap blocks not given back
};

// Scripts the platform, clears the program's state and runs Start.
Outcome RunStart(const Script &Setup);

// The same for ShowFile alone, which is expected to return after a display.
Outcome RunShowFile(const Script &Setup);

// The same for any routine of the program's, such as a PrintText call.
Outcome Run(const Script &Setup, void (*Routine)());
