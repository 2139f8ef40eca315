// The kernel32 surface that the program calls: ten operations, their types
// and the constants it passes. On Windows this is <windows.h> itself; on any
// other system the same names are declared here and a platform layer linked
// into the program (platform/posix/, or the tests' scripted one) defines them.
#pragma once

#if defined(_WIN32)

#include <windows.h>

#else

#define WINAPI

typedef void VOID;
typedef unsigned char BYTE;
typedef int BOOL;
typedef unsigned int UINT;
typedef __UINT32_TYPE__ DWORD;
typedef DWORD *LPDWORD;
typedef __SIZE_TYPE__ SIZE_T;
typedef void *HANDLE;
typedef void *LPVOID;
typedef const void *LPCVOID;
typedef char *LPSTR;
typedef const char *LPCSTR;
typedef struct _SECURITY_ATTRIBUTES *LPSECURITY_ATTRIBUTES;
typedef struct _OVERLAPPED *LPOVERLAPPED;

#define TRUE 1
#define FALSE 0

#define GENERIC_READ 0x80000000u
#define OPEN_EXISTING 3
#define FILE_ATTRIBUTE_NORMAL 0x80
#define HEAP_ZERO_MEMORY 0x00000008
#define STD_OUTPUT_HANDLE ((DWORD)-11)
#define INVALID_HANDLE_VALUE ((HANDLE)(__INTPTR_TYPE__)-1)
#define INVALID_FILE_SIZE ((DWORD)0xFFFFFFFF)

extern "C" {
HANDLE WINAPI GetProcessHeap(VOID);
LPVOID WINAPI HeapAlloc(HANDLE Heap, DWORD Flags, SIZE_T Bytes);
BOOL WINAPI HeapFree(HANDLE Heap, DWORD Flags, LPVOID Block);
HANDLE WINAPI CreateFileA(LPCSTR FileName, DWORD DesiredAccess, DWORD ShareMode,
                          LPSECURITY_ATTRIBUTES SecurityAttributes, DWORD CreationDisposition,
                          DWORD FlagsAndAttributes, HANDLE TemplateFile);
DWORD WINAPI GetFileSize(HANDLE File, LPDWORD FileSizeHigh);
BOOL WINAPI ReadFile(HANDLE File, LPVOID Buffer, DWORD BytesToRead, LPDWORD BytesRead,
                     LPOVERLAPPED Overlapped);
BOOL WINAPI CloseHandle(HANDLE Object);
HANDLE WINAPI GetStdHandle(DWORD StdHandle);
BOOL WINAPI WriteFile(HANDLE File, LPCVOID Buffer, DWORD BytesToWrite, LPDWORD BytesWritten,
                      LPOVERLAPPED Overlapped);
[[noreturn]] VOID WINAPI ExitProcess(UINT ExitCode);
}

#endif
