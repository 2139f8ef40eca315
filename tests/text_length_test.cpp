#include <cstring>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include "console/text_length.h"

static DWORD ByteAtATime(const char *Text) {
  DWORD Length = 0;
  while (Text[Length] != 0)
    Length++;
  return Length;
}

// Every length 0 to 64 at every start alignment, with text bytes drawn from
// the whole range 0x01-0xFF and non-zero bytes after the terminator, so a
// scan that stops early, late or at the wrong place in a group shows up.
TEST(TextLength, MatchesByteAtATimeAtEveryLengthAndAlignment) {
  unsigned Seed = 12345;
  for (int Round = 0; Round < 8; Round++) {
    for (DWORD Length = 0; Length <= 64; Length++) {
      for (int Alignment = 0; Alignment < 4; Alignment++) {
        alignas(16) char Storage[3 + 64 + 4];
        char *Text = Storage + Alignment;
        for (DWORD I = 0; I < Length; I++) {
          Seed = Seed * 1103515245u + 12345u;
          Text[I] = (char)(1 + (Seed >> 16) % 255);
        }
        Text[Length] = 0;
        for (char *Rest = Text + Length + 1; Rest < Storage + sizeof Storage; Rest++)
          *Rest = (char)0xFF;
        ASSERT_EQ(TextLength(Text), ByteAtATime(Text))
            << "length " << Length << " at +" << Alignment;
      }
    }
  }
}

TEST(TextLength, OnlyZeroEndsTheText) {
  struct {
    const char Bytes[8];
    DWORD Length;
  } Cases[] = {
      {{0x41, 0x00, 0x00, 0x41}, 1}, // a second zero's borrow flag changes nothing
      {{0x00, 0x41, 0x41, 0x41}, 0},
      {{0x01, 0x01, 0x01, 0x01, 0x00}, 4},
      {{'\x80', '\xFF', '\x81', '\x7F', 0x00}, 4},
      {{'\xFF', 0x00, '\xFF', 0x00}, 1},
      {{0x01, '\x80', 0x00, 0x01}, 2},
      {{'a', 'b', 'c', 0x00}, 3},
  };
  for (const auto &Case : Cases)
    EXPECT_EQ(TextLength(Case.Bytes), Case.Length)
        << "first byte " << +(unsigned char)Case.Bytes[0];
}

// A text whose last group ends flush against an inaccessible page is counted
// without touching that page, whatever the length.
TEST(TextLength, StaysInsideTextsStorage) {
  long Page = sysconf(_SC_PAGESIZE);
  char *Pages =
      (char *)mmap(nullptr, 2 * Page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(Pages, MAP_FAILED);
  ASSERT_EQ(mprotect(Pages + Page, Page, PROT_NONE), 0);
  for (DWORD Length = 0; Length <= 40; Length++) {
    SIZE_T Storage = TextStorage(Length);
    char *Text = Pages + Page - Storage;
    memset(Text, 'x', Storage);
    Text[Length] = 0;
    EXPECT_EQ(TextLength(Text), Length);
  }
  munmap(Pages, 2 * Page);
}
