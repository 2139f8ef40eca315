#pragma once

#include "platform/kernel32.h"

// Writes the zero-terminated Text to standard output in one write, exactly as
// stored and without its zero byte, and returns the count the platform
// reports as written. Only when that write takes nothing of a text longer
// than 32 KiB (an old console refuses a large write) does the text go out in
// pieces of 32 KiB, up to the first piece not taken whole. Text must meet
// TextLength's storage precondition.
DWORD PrintText(LPCSTR Text);
