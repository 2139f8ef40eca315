// strict_kernel32.dll (STRICT32.dll): kernel32 that holds a program to the
// handles it was given. The file read, measured and closed must be the one
// opened; the heap used, the one GetProcessHeap gave; the block freed, the
// one HeapAlloc gave. Anything else ends the process with exit code 70 and
// says so on standard error, where kernel32 itself would fail quietly: a
// relocation the loader missed then shows, even where it only moves a
// handle that is closed or freed. The other functions are kernel32's own.
#include "platform/kernel32.h"

static HANDLE Heap, File;
static LPVOID Block;

static void Expect(bool Given, const char *Said) {
  if (Given)
    return;
  DWORD Length = 0, Ignored;
  while (Said[Length])
    Length++;
  WriteFile(GetStdHandle(STD_ERROR_HANDLE), Said, Length, &Ignored, 0);
  ExitProcess(70);
}

extern "C" {
HANDLE WINAPI StandInGetProcessHeap(VOID) {
  return Heap = GetProcessHeap();
}

HANDLE WINAPI StandInCreateFileA(LPCSTR Name, DWORD Access, DWORD Share,
                                 LPSECURITY_ATTRIBUTES Security, DWORD Disposition,
                                 DWORD Attributes, HANDLE Template) {
  HANDLE Opened = CreateFileA(Name, Access, Share, Security, Disposition, Attributes, Template);
  if (Opened != INVALID_HANDLE_VALUE)
    File = Opened;
  return Opened;
}

DWORD WINAPI StandInGetFileSize(HANDLE Of, LPDWORD High) {
  Expect(Of == File, "strict kernel32: GetFileSize of a file not opened\n");
  return GetFileSize(Of, High);
}

BOOL WINAPI StandInReadFile(HANDLE From, LPVOID Into, DWORD Count, LPDWORD Read,
                            LPOVERLAPPED Overlapped) {
  Expect(From == File, "strict kernel32: ReadFile of a file not opened\n");
  return ReadFile(From, Into, Count, Read, Overlapped);
}

BOOL WINAPI StandInCloseHandle(HANDLE Object) {
  Expect(Object == File, "strict kernel32: CloseHandle of a file not opened\n");
  return CloseHandle(Object);
}

LPVOID WINAPI StandInHeapAlloc(HANDLE From, DWORD Flags, SIZE_T Bytes) {
  Expect(From == Heap, "strict kernel32: HeapAlloc from a heap not given\n");
  return Block = HeapAlloc(From, Flags, Bytes);
}

BOOL WINAPI StandInHeapFree(HANDLE To, DWORD Flags, LPVOID Freed) {
  Expect(To == Heap && Freed == Block, "strict kernel32: HeapFree of a block not given\n");
  return HeapFree(To, Flags, Freed);
}

BOOL WINAPI Attach(HANDLE, DWORD, LPVOID) {
  return TRUE;
}
}
