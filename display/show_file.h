#pragma once

// Prints test.txt from the current directory up to its first zero byte and
// returns. When the file can't be opened, prints "file not found" and ends the
// process with exit code 0 instead of returning. When the read fails, or the
// text doesn't get out whole, ends the process with exit code 1.
void ShowFile();
