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

// Whether a write of Text's first Bytes bytes, which returned Ok and reported
// Count, took them all. A console in code page 65001 reports characters, not
// bytes: UTF-8 characters (Windows 7), or UTF-16 units, where a character of
// four bytes (lead byte 11110xxx) is two. A count short of the bytes is read
// as characters only from a write that said it succeeded: one that failed may
// have stopped anywhere. Continuation bytes start no character, so a text
// made of nothing else is taken whole by a write that reports 0.
static bool TookWhole(LPCSTR Text, DWORD Bytes, BOOL Ok, DWORD Count) {
  if (Count == Bytes)
    return true;
  if (!Ok)
    return false;
  DWORD Characters = 0, Units = 0;
  for (DWORD At = 0; At < Bytes; At++) {
    BYTE Byte = (BYTE)Text[At];
    Characters += !IsContinuation(Byte);
    Units += Byte >= 0xF0u;
  }
  return Count == Characters || Count == Characters + Units;
}

// One write of Text's first Bytes bytes, and whether it took them all; Count
// is what it reported.
static bool WroteWhole(HANDLE Output, LPCSTR Text, DWORD Bytes, DWORD *Count) {
  // A write that fails before it counts reads as one that took nothing.
  *Count = 0;
  BOOL Ok = WriteFile(Output, Text, Bytes, Count, 0);
  return TookWhole(Text, Bytes, Ok, *Count);
}

// What went out by a write of Bytes bytes not taken whole: what it reports,
// but a count past what it was asked for says nothing, and must never add up
// to the whole text.
static DWORD ShortCount(DWORD Count, DWORD Bytes) {
  return Count < Bytes ? Count : 0;
}

static DWORD PrintInPieces(HANDLE Output, LPCSTR Text, DWORD Length) {
  DWORD Written = 0;
  while (Written != Length) {
    // A piece ends between characters: before the lead byte of a character
    // it would cut, which is at most 3 bytes back in UTF-8. A text that isn't
    // UTF-8 goes out in pieces at most 3 bytes short, and still whole.
    DWORD Piece = Length - Written;
    if (Piece > LargestPiece) {
      Piece = LargestPiece;
      while (Piece > LargestPiece - 3 && IsContinuation((BYTE)Text[Written + Piece]))
        Piece--;
    }
    // Never a byte twice: what a piece not taken whole left out is unknown,
    // so that piece is the last.
    DWORD Count;
    if (!WroteWhole(Output, Text + Written, Piece, &Count))
      return Written + ShortCount(Count, Piece);
    Written += Piece;
  }
  return Written;
}

DWORD PrintText(LPCSTR Text) {
  // Standard output is asked for on every call: it may have been replaced
  // since the last one, and it is never ours to keep or close.
  HANDLE Output = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD Length = TextLength(Text);

  // The whole text in one write: a file or a pipe takes it as stored.
  DWORD Count;
  if (WroteWhole(Output, Text, Length, &Count))
    return Length;
  // Pieces only after that write took nothing, as an old console's refusal
  // does: a write that took some has sent bytes that pieces would send again,
  // and a text of one piece would only be asked for as it was.
  if (Count == 0 && Length > LargestPiece)
    return PrintInPieces(Output, Text, Length);
  return ShortCount(Count, Length);
}
