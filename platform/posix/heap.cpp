// The process heap over anonymous mappings: pages come zero-filled from the
// kernel, so HEAP_ZERO_MEMORY costs nothing extra, and a large block is given
// back to the system whole when it is freed.
#include <errno.h>
#include <stdint.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "platform/kernel32.h"

#ifdef SHOWFILE_VALGRIND
// Blocks are described to valgrind as heap blocks of exactly the size asked
// for, so memcheck reports a read past one, or one never freed, as it would
// for malloc. Outside valgrind each request is a few no-op instructions.
#include <memcheck.h>
#else
#define VALGRIND_MALLOCLIKE_BLOCK(Block, Bytes, RedZone, Zeroed)
#define VALGRIND_FREELIKE_BLOCK(Block, RedZone)
#define VALGRIND_MAKE_MEM_NOACCESS(Start, Bytes)
#define VALGRIND_MAKE_MEM_DEFINED(Start, Bytes)
#endif

// Each block starts with its mapping's length, kept a whole 64 bytes ahead of
// the caller's memory so that the block starts on a cache line: the kernel
// copies a file into a buffer that doesn't several times slower on some
// machines.
static const SIZE_T HeaderBytes = 64;

static char DefaultHeap;

// A 32-bit program may well hold a block of 2 GiB or more (Windows gives a
// large-address-aware one 3 GiB to use), and the kernel maps one, but musl's
// mmap turns down every length above PTRDIFF_MAX. Where the kernel's own
// 32-bit call is there, blocks are asked of it.
static void *MapZeroed(SIZE_T Length, int Flags) {
#ifdef SYS_mmap2
  long Address = syscall(SYS_mmap2, 0, Length, PROT_READ | PROT_WRITE, Flags, -1, 0);
  return Address == -1 ? MAP_FAILED : (void *)Address;
#else
  return mmap(0, Length, PROT_READ | PROT_WRITE, Flags, -1, 0);
#endif
}

HANDLE WINAPI GetProcessHeap(VOID) {
  return &DefaultHeap;
}

// The block is about to be filled whole, so its pages are faulted in now, in
// one go, rather than one at a time during the read. A block of a huge page
// or an eighth of one is asked to be backed by huge pages first: one 2 MiB
// page instead of 64 to 512 small ones is one fault instead of many, and
// makes the read into the block and its release cheaper too. Its length is
// rounded up to whole huge pages, so that the kernel places it on a
// huge-page boundary; only the pages the block uses are faulted in, so that
// where no huge page is had the rest of the mapping costs nothing.
static const SIZE_T HugePage = 2 << 20;
static const SIZE_T HugeFrom = HugePage / 8;

// Huge pages as Linux offers them: transparent, asked for with madvise.
#ifdef MADV_HUGEPAGE
#define HUGE_PAGES 1
#ifndef MADV_POPULATE_WRITE
#define MADV_POPULATE_WRITE 23 // Linux 5.14; older kernels refuse it harmlessly
#endif
#else
#define HUGE_PAGES 0
#endif
#ifndef MAP_POPULATE
#define MAP_POPULATE 0 // outside Linux the pages are faulted in by the read
#endif

LPVOID WINAPI HeapAlloc(HANDLE, DWORD, SIZE_T Bytes) {
  if (Bytes > SIZE_MAX - HeaderBytes - HugePage)
    return 0;
  SIZE_T Length = HeaderBytes + Bytes;
  bool Huge = HUGE_PAGES && Length >= HugeFrom;
  if (Huge)
    Length = (Length + HugePage - 1) & ~(HugePage - 1);
  char *Mapping =
      (char *)MapZeroed(Length, MAP_PRIVATE | MAP_ANONYMOUS | (Huge ? 0 : MAP_POPULATE));
  if (Mapping == MAP_FAILED)
    return 0;
#if HUGE_PAGES
  // Where the pages can't be had now, they couldn't be had during the read
  // either: no block, rather than a process killed half-way.
  if (Huge) {
    madvise(Mapping, Length, MADV_HUGEPAGE);
    if (madvise(Mapping, HeaderBytes + Bytes, MADV_POPULATE_WRITE) != 0 && errno == ENOMEM) {
      munmap(Mapping, Length);
      return 0;
    }
  }
#endif
  *(SIZE_T *)Mapping = Length;
  // Only the block itself is the caller's: not the header, nor the rest of
  // the mapping.
  VALGRIND_MAKE_MEM_NOACCESS(Mapping, HeaderBytes);
  VALGRIND_MAKE_MEM_NOACCESS(Mapping + HeaderBytes + Bytes,
                             Length - HeaderBytes - Bytes +
                                 -Length % (SIZE_T)sysconf(_SC_PAGESIZE));
  VALGRIND_MALLOCLIKE_BLOCK(Mapping + HeaderBytes, Bytes, 0, 1);
  return Mapping + HeaderBytes;
}

BOOL WINAPI HeapFree(HANDLE, DWORD, LPVOID Block) {
  char *Mapping = (char *)Block - HeaderBytes;
  VALGRIND_FREELIKE_BLOCK(Block, 0);
  VALGRIND_MAKE_MEM_DEFINED(Mapping, HeaderBytes);
  return munmap(Mapping, *(SIZE_T *)Mapping) == 0;
}
