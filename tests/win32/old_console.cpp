// old_console.dll: kernel32 as a program sees it on the console of Windows 7
// and earlier, where a single write of much more than 64 KiB fails, taking
// nothing. Its WriteFile refuses any write over 64 KiB, and says so on
// standard error; the other nine functions are kernel32's own, forwarded
// A copy of showfile.exe whose imports name this DLL in
// place of KERNEL32.dll runs over it.
#include "platform/kernel32.h"

static const DWORD LargestTaken = 64u << 10;

extern "C" BOOL WINAPI StandInWriteFile(HANDLE File, LPCVOID Buffer, DWORD Count, LPDWORD Written,
                                        LPOVERLAPPED Overlapped) {
  if (Count > LargestTaken) {
    static const char Said[] = "old console: refused a write of more than 64 KiB\n";
    DWORD Ignored;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), Said, sizeof Said - 1, &Ignored, 0);
    *Written = 0;
    return FALSE;
  }
  return WriteFile(File, Buffer, Count, Written, Overlapped);
}

extern "C" BOOL WINAPI Attach(HANDLE, DWORD, LPVOID) {
  return TRUE;
}
