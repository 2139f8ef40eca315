#include <cstdint>
#include <gtest/gtest.h>

#include "platform/kernel32.h"

// A size whose header and rounding pass the top of the address space must be
// refused, not wrap around to a small mapping handed out in its place.
TEST(PosixHeap, RefusesSizesThatWouldWrapPastTheTop) {
  HANDLE Heap = GetProcessHeap();
  for (SIZE_T Below : {0, 1, 8, 15, 16, 17, 4096, (2 << 20) - 1, 2 << 20, (2 << 20) + 17})
    EXPECT_EQ(HeapAlloc(Heap, HEAP_ZERO_MEMORY, SIZE_MAX - Below), nullptr)
        << "SIZE_MAX - " << Below;
}

// Small blocks and huge-page-backed ones alike come zeroed, start on a
// cache line (the kernel's copy into a buffer that doesn't is far slower on
// some machines), and go back.
TEST(PosixHeap, HandsOutZeroedAlignedBlocksAndTakesThemBack) {
  HANDLE Heap = GetProcessHeap();
  for (SIZE_T Bytes : {1, 4096, 300 << 10, 3 << 20}) {
    char *Block = (char *)HeapAlloc(Heap, HEAP_ZERO_MEMORY, Bytes);
    ASSERT_NE(Block, nullptr) << Bytes;
    EXPECT_EQ((uintptr_t)Block % 64, 0u) << Bytes;
    EXPECT_EQ(Block[0] | Block[Bytes / 2] | Block[Bytes - 1], 0) << Bytes;
    Block[Bytes - 1] = 1;
    EXPECT_TRUE(HeapFree(Heap, 0, Block)) << Bytes;
  }
}
