#pragma once

// Prints test.txt from the current directory up to its first zero byte and
// returns. When the file can't be opened, prints "file not found" and ends the
// process with exit code 0 instead of returning.
void ShowFile();
