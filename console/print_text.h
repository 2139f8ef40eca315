#pragma once

#include "platform/kernel32.h"

// Writes the zero-terminated Text to standard output in one write, exactly as
// stored and without its zero byte, and returns the count the platform
// reports as written. Text must meet TextLength's storage precondition.
DWORD PrintText(LPCSTR Text);
