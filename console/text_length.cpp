#include "console/text_length.h"

// One group: four text bytes read with a single load from any address.
typedef DWORD __attribute__((aligned(1), may_alias)) UnalignedGroup;

static inline DWORD LoadGroup(LPCSTR At) {
  DWORD Group = *(const UnalignedGroup *)At;
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  // The flag arithmetic below wants the first byte in the low bits.
  Group = __builtin_bswap32(Group);
#endif
  return Group;
}

static const DWORD OnesInEveryLane = 0x01010101u; // 0x01 in each byte
static const DWORD TopOfEveryLane = 0x80808080u;  // bit 7 of each byte

// The zero-byte test for a group g of four bytes:
//
//   g - OnesInEveryLane   borrows into bit 7 of every byte that was 0x00
//                         (and, through the borrow, of some bytes above a
//                         0x00);
//   & ~g                  keeps only bytes whose own top bit was clear, so
//                         bytes 0x80-0xFF never flag themselves;
//   & TopOfEveryLane      keeps one flag bit per byte.
//
// The result is zero exactly when no byte of g is zero. Otherwise its lowest
// flag marks the first zero byte: no borrow reaches below the first zero, so
// the only flags that can be wrong lie above it and are ignored.
static inline DWORD ZeroFlags(LPCSTR At) {
  DWORD Group = LoadGroup(At);
  return (Group - OnesInEveryLane) & ~Group & TopOfEveryLane;
}

// The place (0-3) of the first zero in a group from its flags: the lowest
// flag wins, so the low half is asked first.
static inline DWORD FirstZero(DWORD Flags) {
  if (Flags & 0x8080u)
    return (Flags & 0x80u) ? 0 : 1;
  return (Flags & 0x800000u) ? 2 : 3;
}

DWORD TextLength(LPCSTR Text) {
  // An unsigned count, not a distance between pointers: a text may be longer
  // than 2 GiB in a 32-bit address space.
  DWORD Offset = 0;
  DWORD Flags;

  // Four tests to a pass: the loop's own work, the offset's step and the
  // backward branch, comes once per 16 bytes instead of once per 4, beside
  // four tests of a load, four operations and a branch each.
  for (;;) {
    if ((Flags = ZeroFlags(Text + Offset)) != 0)
      break;
    if ((Flags = ZeroFlags(Text + Offset + 4)) != 0) {
      Offset += 4;
      break;
    }
    if ((Flags = ZeroFlags(Text + Offset + 8)) != 0) {
      Offset += 8;
      break;
    }
    if ((Flags = ZeroFlags(Text + Offset + 12)) != 0) {
      Offset += 12;
      break;
    }
    Offset += 16;
  }
  return Offset + FirstZero(Flags);
}
