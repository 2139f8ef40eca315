// hold_file.exe: opens test.txt the way showfile does (no sharing), says
// "held" on standard output, and keeps the file until its standard input ends.
// Exit code 1 when the file can't be opened.
#include "platform/kernel32.h"

extern "C" [[noreturn]] void Hold() {
  HANDLE File =
      CreateFileA("test.txt", GENERIC_READ, 0, 0, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, 0);
  if (File == INVALID_HANDLE_VALUE)
    ExitProcess(1);
  DWORD Count;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), "held\n", 5, &Count, 0);
  char Byte;
  while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), &Byte, 1, &Count, 0) && Count == 1)
    ;
  CloseHandle(File);
  ExitProcess(0);
}
