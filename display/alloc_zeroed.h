#pragma once

#include "platform/kernel32.h"

// Returns Size zero bytes from Heap, padded with zero bytes to whole 4-byte
// groups so that a text stored in them can be counted by TextLength.
//
// It never returns without a block. When the heap can't supply one, or when
// the padded size wraps (Size is 0, all ones + 1; on a 32-bit host also
// Size from 0xFFFFFFFD up, whose padding passes 4 GiB), nothing is printed
// and the process ends with exit code 1.
LPVOID AllocZeroed(HANDLE Heap, DWORD Size);
