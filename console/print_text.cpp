#include "console/print_text.h"

#include "console/text_length.h"

// The console of Windows 7 and earlier refuses a single write of about
// 64 KiB or more (less when its heap is in use), taking nothing. Language
// runtimes settled on pieces this size for it.
static const DWORD LargestPiece = 32u << 10;

// UTF-8 continuation bytes, 10xxxxxx: every byte of a character but its
// first.
static inline bool IsContinuation(BYTE Byte) {
  return (Byte & 0xC0u) == 0x80u;
}

// Whether Count, reported by a write of Text's first Bytes bytes that said it
// succeeded, counts them as a console in code page 65001 does: in UTF-8
// characters (Windows 7), or in UTF-16 units, where a character of four bytes
// (lead byte 11110xxx) is two.
static bool CountsCharacters(LPCSTR Text, DWORD Bytes, DWORD Count) {
  DWORD Characters = 0, Units = 0;
  for (DWORD At = 0; At < Bytes; At++) {
    BYTE Byte = (BYTE)Text[At];
    Characters += !IsContinuation(Byte);
    Units += Byte >= 0xF0u;
  }
  return Count == Characters || Count == Characters + Units;
}

DWORD PrintText(LPCSTR Text) {
  // Standard output is asked for on every call: it may have been replaced
  // since the last one, and it is never ours to keep or close.
  HANDLE Output = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD Length = TextLength(Text);
  DWORD Written = 0;

  // The first write is of the whole text. Only when it takes nothing of a
  // text longer than a piece does the text go out again, in pieces, in
  // order. A write is whole when it reports every byte, or, having said it
  // succeeded, every character. Any other is the last: no byte is sent
  // twice.
  DWORD Step = Length;
  for (;;) {
    DWORD Piece = 0;
    BOOL Ok = WriteFile(Output, Text + Written, Step, &Piece, 0);
    if (Piece == Step || (Ok && Piece != 0 && CountsCharacters(Text + Written, Step, Piece))) {
      Written += Step;
      if (Written == Length)
        return Written;
    } else if (Written != 0 || Piece != 0 || Step <= LargestPiece) {
      // What a short write reports went out; a count past what was asked
      // for says nothing, and never adds up to the whole text.
      return Written + (Piece < Step ? Piece : 0);
    }

    // The next piece, ended between characters: before the lead byte of a
    // character it would cut, at most 3 bytes shorter (a text that isn't
    // UTF-8 may end up 3 shorter, and still goes out whole).
    Step = Length - Written;
    if (Step > LargestPiece) {
      Step = LargestPiece;
      while (Step > LargestPiece - 3 && IsContinuation((BYTE)Text[Written + Step]))
        Step--;
    }
  }
}
