#include "console/print_text.h"

#include "console/text_length.h"

// The console of Windows 7 and earlier refuses a single write much larger
// than 64 KiB, taking nothing, and takes the same bytes in pieces this size.
static const DWORD LargestPiece = 32u << 10;

DWORD PrintText(LPCSTR Text) {
  // Standard output is asked for on every call: it may have been replaced
  // since the last one, and it is never ours to keep or close.
  HANDLE Output = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD Length = TextLength(Text);
  DWORD Written = 0;

  // The first write is of the whole text. Only when it takes nothing of a
  // text longer than a piece does the text go out again, in pieces, in
  // order. Any write that takes less than asked is the last: a count can
  // fall short although the bytes went out (a console that counts
  // characters, not bytes), and no byte is sent twice.
  DWORD Step = Length;
  for (;;) {
    DWORD Piece = 0;
    WriteFile(Output, Text + Written, Step, &Piece, 0);
    Written += Piece;
    if (Piece == Step ? Written == Length : Written != 0 || Step <= LargestPiece)
      return Written;
    Step = Length - Written < LargestPiece ? Length - Written : LargestPiece;
  }
}
