#pragma once

// The process's entry: shows test.txt and ends the process with exit code 0.
extern "C" [[noreturn]] void Start();
