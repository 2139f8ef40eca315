#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/kernel32.h"

// A size whose header and rounding pass the top of the address space must be
// refused, not wrap around to a small mapping handed out in its place.
TEST(PosixHeap, RefusesSizesThatWouldWrapPastTheTop) {
  HANDLE Heap = GetProcessHeap();
  for (SIZE_T Below : {0, 1, 8, 15, 16, 17, 4096, (2 << 20) - 1, 2 << 20, (2 << 20) + 17})
    EXPECT_EQ(HeapAlloc(Heap, HEAP_ZERO_MEMORY, SIZE_MAX - Below), nullptr)
        << "SIZE_MAX - " << Below;
}

// The process's mappings as the kernel lists them, read without allocating,
// so that reading them changes nothing they list.
struct Mappings {
  char Text[1 << 16];
  ssize_t Length;
};
static void ReadMappings(Mappings &Into) {
  int Maps = open("/proc/self/maps", O_RDONLY);
  ssize_t Read = 0;
  Into.Length = 0;
  while (Maps >= 0 &&
         (Read = read(Maps, Into.Text + Into.Length, sizeof Into.Text - (size_t)Into.Length)) > 0)
    Into.Length += Read;
  if (Maps < 0 || Read < 0)
    Into.Length = -1;
  if (Maps >= 0)
    close(Maps);
}

// Small blocks and huge-page-backed ones alike come zeroed, start on a
// cache line (the kernel's copy into a buffer that doesn't is far slower on
// some machines), and go back whole: once freed, the process maps what it
// mapped before, not a byte more.
TEST(PosixHeap, HandsOutZeroedAlignedBlocksAndTakesThemBack) {
  HANDLE Heap = GetProcessHeap();
  static Mappings Before, After;
  for (SIZE_T Bytes : {1, 4096, 300 << 10, 3 << 20}) {
    ReadMappings(Before);
    char *Block = (char *)HeapAlloc(Heap, HEAP_ZERO_MEMORY, Bytes);
    ASSERT_NE(Block, nullptr) << Bytes;
    EXPECT_EQ((uintptr_t)Block % 64, 0u) << Bytes;
    EXPECT_EQ(Block[0] | Block[Bytes / 2] | Block[Bytes - 1], 0) << Bytes;
    Block[Bytes - 1] = 1;
    EXPECT_TRUE(HeapFree(Heap, 0, Block)) << Bytes;
    ReadMappings(After);
    ASSERT_GT(Before.Length, 0);
    EXPECT_TRUE(After.Length == Before.Length &&
                memcmp(After.Text, Before.Text, Before.Length) == 0)
        << Bytes << " bytes: mapped before\n"
        << std::string(Before.Text, Before.Length) << "and after\n"
        << std::string(After.Text, After.Length);
  }
}

// A block of 256 KiB or more is mapped in whole huge pages, so that a kernel
// that places such a mapping on a huge-page boundary (recent Linux does) can
// back it with huge pages at all: the block then starts 64 bytes past one.
TEST(PosixHeap, MapsLargeBlocksOnHugePageBoundaries) {
  const uintptr_t HugePage = 2 << 20;
  void *Probes[2];
  bool Aligns = true;
  for (void *&Probe : Probes) {
    Probe = mmap(nullptr, HugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    Aligns = Aligns && Probe != MAP_FAILED && (uintptr_t)Probe % HugePage == 0;
  }
  for (void *Probe : Probes)
    munmap(Probe, HugePage);
  if (!Aligns)
    GTEST_SKIP() << "mappings of whole huge pages land off huge-page boundaries here (an older "
                    "kernel, or an emulator)";
  for (SIZE_T Bytes : {256 << 10, 300 << 10, 3 << 20}) {
    char *Block = (char *)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, Bytes);
    ASSERT_NE(Block, nullptr) << Bytes;
    EXPECT_EQ((uintptr_t)Block % HugePage, 64u) << Bytes;
    HeapFree(GetProcessHeap(), 0, Block);
  }
}
