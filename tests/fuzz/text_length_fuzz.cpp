// libFuzzer target: arbitrary bytes, placed at an arbitrary offset in storage
// sized exactly as the program sizes its buffer (TextStorage), the bytes past
// the zero byte not zero. AddressSanitizer stops any read past that storage;
// the count must match a plain byte loop.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "console/text_length.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  if (Size == 0)
    return 0;
  size_t Offset = Data[0] % 64; // any alignment, any distance from the block's start
  const uint8_t *Text = Data + 1;
  size_t Length = Size - 1;

  size_t Padded = TextStorage(Length);
  char *Storage = (char *)std::malloc(Offset + Padded);
  std::memset(Storage, 0x5A, Offset + Padded);
  std::memcpy(Storage + Offset, Text, Length);
  Storage[Offset + Length] = 0;

  size_t Expected = 0;
  while (Storage[Offset + Expected] != 0)
    Expected++;
  if (TextLength(Storage + Offset) != Expected)
    __builtin_trap();
  std::free(Storage);
  return 0;
}
