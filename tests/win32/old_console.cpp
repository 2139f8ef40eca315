// old_console.dll: kernel32 as a program sees it on the console of Windows 7
// and earlier, built for one of three ways that console writes; the other
// nine functions are kernel32's own, forwarded. A copy of showfile.exe whose
// imports name this DLL in place of KERNEL32.dll runs over it.
//
// Built with REFUSES_LARGE, its WriteFile refuses any write over 64 KiB,
// taking nothing, as that console does a single write of about 64 KiB or
// more, and says so on standard error. Built with COUNTS_CHARACTERS, it is
// that console in code page 65001: a write reports the UTF-8 characters it
// took, not the bytes, and a write that ends inside a character is said so
// on standard error.
#include "platform/kernel32.h"

static void Say(const char *Said, DWORD Length) {
  DWORD Ignored;
  WriteFile(GetStdHandle(STD_ERROR_HANDLE), Said, Length, &Ignored, 0);
}

extern "C" BOOL WINAPI StandInWriteFile(HANDLE File, LPCVOID Buffer, DWORD Count, LPDWORD Written,
                                        LPOVERLAPPED Overlapped) {
#ifdef REFUSES_LARGE
  if (Count > 64u << 10) {
    static const char Said[] = "old console: refused a write of more than 64 KiB\n";
    Say(Said, sizeof Said - 1);
    *Written = 0;
    return FALSE;
  }
#endif
  BOOL Ok = WriteFile(File, Buffer, Count, Written, Overlapped);
#ifdef COUNTS_CHARACTERS
  // The byte after the write is the text's own, or its zero byte.
  const BYTE *Bytes = (const BYTE *)Buffer;
  if (Count != 0 && (Bytes[Count] & 0xC0) == 0x80) {
    static const char Said[] = "old console: a write cut a character\n";
    Say(Said, sizeof Said - 1);
  }
  DWORD Characters = 0;
  for (DWORD At = 0; At < *Written; At++)
    Characters += (Bytes[At] & 0xC0) != 0x80;
  *Written = Characters;
#endif
  return Ok;
}

extern "C" BOOL WINAPI Attach(HANDLE, DWORD, LPVOID) {
  return TRUE;
}
