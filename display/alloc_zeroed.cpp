#include "display/alloc_zeroed.h"

LPVOID AllocZeroed(HANDLE Heap, DWORD Size) {
  // Rounded up in the heap's own width, where a 32-bit Size can't overflow on
  // a 64-bit host; on a 32-bit host the sum can wrap, which the check catches.
  SIZE_T Padded = ((SIZE_T)Size + 3) & ~(SIZE_T)3;
  if (Size == 0 || Padded < Size)
    ExitProcess(1);

  LPVOID Block = HeapAlloc(Heap, HEAP_ZERO_MEMORY, Padded);
  if (Block == 0)
    ExitProcess(1);
  return Block;
}
