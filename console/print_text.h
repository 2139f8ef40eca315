#pragma once

#include "platform/kernel32.h"

// Writes the zero-terminated Text to standard output in one write, exactly as
// stored and without its zero byte, and returns how many of its bytes the
// platform reports as written: never more than the text's length, and the
// whole length exactly when every byte went out. A write took all it was
// asked for when it reports every byte, or, having said it succeeded, every
// character, as a console in code page 65001 counts them (UTF-8 or UTF-16;
// continuation bytes start none, so a text of nothing else counts 0). Only
// when that write takes nothing of a text longer than 32 KiB (an old console
// refuses a large write) does the text go out again, in pieces of 32 KiB or
// up to 3 bytes less, each ending between UTF-8 characters, up to the first
// piece not taken whole. No byte is written twice. Text must meet
// TextLength's storage precondition.
DWORD PrintText(LPCSTR Text);
