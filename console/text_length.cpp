#include "console/text_length.h"

// One group: four text bytes read with a single load from any address.
typedef DWORD __attribute__((aligned(1), may_alias)) UnalignedGroup;

static inline DWORD LoadGroup(const unsigned char *At) {
  DWORD Group = *(const UnalignedGroup *)At;
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  // The flag arithmetic below wants the first byte in the low bits.
  Group = __builtin_bswap32(Group);
#endif
  return Group;
}

// The zero-byte test for a group g of four bytes:
//
//   (g - 0x01010101)  borrows into bit 7 of every byte that was 0x00 (and,
//                     through the borrow, of some bytes above a 0x00);
//   & ~g              keeps only bytes whose own top bit was clear, so bytes
//                     0x80-0xFF never flag themselves;
//   & 0x80808080      keeps one flag bit per byte.
//
// The result is zero exactly when no byte of g is zero. Otherwise its lowest
// flag marks the first zero byte: no borrow reaches below the first zero, so
// the only flags that can be wrong lie above it and are ignored.
static inline DWORD ZeroFlags(const unsigned char *At) {
  DWORD Group = LoadGroup(At);
  return (Group - 0x01010101u) & ~Group & 0x80808080u;
}

DWORD TextLength(LPCSTR Text) {
  const unsigned char *Start = (const unsigned char *)Text;
  const unsigned char *Group = Start;
  DWORD Flags;

  // Sixteen bytes a pass: four tests back to back, one backward branch.
  for (;;) {
    if ((Flags = ZeroFlags(Group)) != 0)
      break;
    if ((Flags = ZeroFlags(Group + 4)) != 0) {
      Group += 4;
      break;
    }
    if ((Flags = ZeroFlags(Group + 8)) != 0) {
      Group += 8;
      break;
    }
    if ((Flags = ZeroFlags(Group + 12)) != 0) {
      Group += 12;
      break;
    }
    Group += 16;
  }

  // The first zero's place in the group, from its lowest flag: low half first.
  DWORD Position;
  if (Flags & 0x8080u)
    Position = (Flags & 0x80u) ? 0 : 1;
  else
    Position = (Flags & 0x800000u) ? 2 : 3;
  return (DWORD)(Group - Start) + Position;
}
