#include "display/alloc_zeroed.h"

#include "console/text_length.h"

LPVOID AllocZeroed(HANDLE Heap, DWORD Size) {
  // Size counts the text's zero byte already. A Size of 0 is a count that
  // wrapped; on a 32-bit host the padded size wraps too, from 0xFFFFFFFD up.
  if (Size == 0)
    ExitProcess(1);
  SIZE_T Padded = TextStorage((SIZE_T)Size - 1);
  if (Padded < Size)
    ExitProcess(1);

  LPVOID Block = HeapAlloc(Heap, HEAP_ZERO_MEMORY, Padded);
  if (Block == 0)
    ExitProcess(1);
  return Block;
}
