#include "display/alloc_zeroed.h"

#include "console/text_length.h"

LPVOID AllocZeroed(HANDLE Heap, DWORD Size) {
  // Size counts the text's zero byte already. Storage no larger than the
  // text itself means a count wrapped: Size was 0 (all ones + 1), or, on a
  // 32-bit host, the padding passed 4 GiB (Size from 0xFFFFFFFD up).
  SIZE_T Length = (SIZE_T)Size - 1;
  SIZE_T Padded = TextStorage(Length);
  if (Padded <= Length)
    ExitProcess(1);

  LPVOID Block = HeapAlloc(Heap, HEAP_ZERO_MEMORY, Padded);
  if (Block == 0)
    ExitProcess(1);
  return Block;
}
