#pragma once

#include "platform/kernel32.h"

// Writes the zero-terminated Text to standard output in one write, exactly as
// stored and without its zero byte, and returns how many of its bytes the
// platform reports as written: never more than the text's length, and the
// whole length exactly when every byte went out. A write that says it
// succeeded and reports the text's characters (UTF-8 or UTF-16, as a console
// in code page 65001 counts) took all of it. Only when that write takes
// nothing of a text longer than 32 KiB (an old console refuses a large write)
// does the text go out in pieces of 32 KiB or up to 3 bytes less, each ending
// between UTF-8 characters, up to the first piece not taken whole. Text must
// meet TextLength's storage precondition.
DWORD PrintText(LPCSTR Text);
