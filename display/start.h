#pragma once

// The process's entry: shows test.txt and ends the process, with exit code 0
// when the text got out whole or test.txt couldn't be opened (whether or not
// "file not found" got out), and 1 when it couldn't be shown whole (see
// ShowFile and AllocZeroed).
extern "C" [[noreturn]] void Start();
