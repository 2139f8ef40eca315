#include "console/print_text.h"

#include "console/text_length.h"

DWORD PrintText(LPCSTR Text) {
  // Standard output is asked for on every call: it may have been replaced
  // since the last one, and it is never ours to keep or close.
  HANDLE Output = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD Written = 0;
  WriteFile(Output, Text, TextLength(Text), &Written, 0);
  return Written;
}
