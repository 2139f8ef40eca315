// The process heap over anonymous mappings: pages come zero-filled from the
// kernel, so HEAP_ZERO_MEMORY costs nothing extra, and a large block is given
// back to the system whole when it is freed.
#include <stdint.h>
#include <sys/mman.h>

#include "platform/kernel32.h"

// Each block starts with its mapping's length, kept a whole 16 bytes ahead of
// the caller's memory so that the block stays 16-byte aligned.
static const SIZE_T HeaderBytes = 16;

static char DefaultHeap;

HANDLE WINAPI GetProcessHeap(VOID) {
  return &DefaultHeap;
}

LPVOID WINAPI HeapAlloc(HANDLE, DWORD, SIZE_T Bytes) {
  if (Bytes > SIZE_MAX - HeaderBytes)
    return 0;
  SIZE_T Length = HeaderBytes + Bytes;
  int Flags = MAP_PRIVATE | MAP_ANONYMOUS;
#ifdef MAP_POPULATE
  // The block is about to be filled whole; faulting its pages in now, in one
  // go, is cheaper than taking the faults one page at a time during the read.
  Flags |= MAP_POPULATE;
#endif
  void *Mapping = mmap(0, Length, PROT_READ | PROT_WRITE, Flags, -1, 0);
  if (Mapping == MAP_FAILED)
    return 0;
  *(SIZE_T *)Mapping = Length;
  return (char *)Mapping + HeaderBytes;
}

BOOL WINAPI HeapFree(HANDLE, DWORD, LPVOID Block) {
  if (Block == 0)
    return FALSE;
  char *Mapping = (char *)Block - HeaderBytes;
  return munmap(Mapping, *(SIZE_T *)Mapping) == 0;
}
