#include "tests/scripted_kernel32.h"

#include <algorithm>
#include <csetjmp>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>

// Values the script hands out, chosen to read well in the call log.
static char HeapTag, FileTag, OutputTag;
static const HANDLE ScriptedHeap = &HeapTag;
static const HANDLE ScriptedFile = &FileTag;
static const HANDLE ScriptedOutput = &OutputTag;

static Script Setup;
static Outcome Result;
static std::map<char *, size_t> Blocks; // each block handed out, and its size
static size_t ReadOffset;
static int Writes; // WriteFile calls so far
static std::jmp_buf Exited;

static std::string Name(const void *Value) {
  if (Value == ScriptedHeap)
    return "heap";
  if (Value == ScriptedFile)
    return "file";
  if (Value == ScriptedOutput)
    return "stdout";
  for (const auto &[Block, Size] : Blocks)
    if (Value >= Block && Value < Block + Size)
      return Value == Block ? "block" : "block+" + std::to_string((char *)Value - Block);
  return Value ? "?" : "0";
}

static void Log(const char *Format, ...) __attribute__((format(printf, 1, 2)));
static void Log(const char *Format, ...) {
  char Line[256];
  va_list Args;
  va_start(Args, Format);
  vsnprintf(Line, sizeof Line, Format, Args);
  va_end(Args);
  Result.Calls.push_back(Line);
}

extern "C" {

HANDLE WINAPI GetProcessHeap(VOID) {
  Log("GetProcessHeap()");
  return ScriptedHeap;
}

LPVOID WINAPI HeapAlloc(HANDLE Heap, DWORD Flags, SIZE_T Bytes) {
  Log("HeapAlloc(%s, %u, %zu)", Name(Heap).c_str(), Flags, (size_t)Bytes);
  if (Setup.HeapRefuses)
    return nullptr;
  char *Block = (char *)std::malloc(Bytes);
  std::memset(Block, (Flags & HEAP_ZERO_MEMORY) ? 0 : 0xA5, Bytes);
  Blocks[Block] = Bytes;
  return Block;
}

BOOL WINAPI HeapFree(HANDLE Heap, DWORD Flags, LPVOID Block) {
  Log("HeapFree(%s, %u, %s)", Name(Heap).c_str(), Flags, Name(Block).c_str());
  if (Blocks.erase((char *)Block) == 0)
    return FALSE;
  std::free(Block);
  return TRUE;
}

HANDLE WINAPI CreateFileA(LPCSTR FileName, DWORD Access, DWORD Share,
                          LPSECURITY_ATTRIBUTES Security, DWORD Disposition, DWORD Attributes,
                          HANDLE Template) {
  Log("CreateFileA(\"%s\", %#x, %u, %s, %u, %#x, %s)", FileName, Access, Share,
      Name(Security).c_str(), Disposition, Attributes, Name(Template).c_str());
  ReadOffset = 0;
  return Setup.OpenFails ? INVALID_HANDLE_VALUE : ScriptedFile;
}

// The low 32 bits of the length, and the high ones where there is a place.
DWORD WINAPI GetFileSize(HANDLE File, LPDWORD High) {
  Log("GetFileSize(%s, %s)", Name(File).c_str(), Name(High).c_str());
  unsigned long long Length = Setup.Length.value_or(Setup.File.size());
  if (High)
    *High = (DWORD)(Length >> 32);
  return (DWORD)Length;
}

BOOL WINAPI ReadFile(HANDLE File, LPVOID Buffer, DWORD Count, LPDWORD Read, LPOVERLAPPED Over) {
  Log("ReadFile(%s, %s, %u, %s, %s)", Name(File).c_str(), Name(Buffer).c_str(), Count,
      Read ? "&count" : "0", Name(Over).c_str());
  size_t Delivered = std::min<size_t>({Count, Setup.ReadLimit, Setup.File.size() - ReadOffset});
  std::memcpy(Buffer, Setup.File.data() + ReadOffset, Delivered);
  ReadOffset += Delivered;
  *Read = (DWORD)Delivered;
  return !Setup.ReadFails;
}

BOOL WINAPI CloseHandle(HANDLE Object) {
  Log("CloseHandle(%s)", Name(Object).c_str());
  return TRUE;
}

HANDLE WINAPI GetStdHandle(DWORD Which) {
  Log("GetStdHandle(%d)", (int)Which);
  return ScriptedOutput;
}

BOOL WINAPI WriteFile(HANDLE File, LPCVOID Buffer, DWORD Count, LPDWORD Written,
                      LPOVERLAPPED Over) {
  Log("WriteFile(%s, %s, %u, %s, %s)", Name(File).c_str(), Name(Buffer).c_str(), Count,
      Written ? "&count" : "0", Name(Over).c_str());
  // A loop that would never end is ended here, as a failure of its own.
  if (++Writes > 1000) {
    Result.ExitCode = -2;
    std::longjmp(Exited, 1);
  }
  bool Refused = Writes == Setup.FailingWrite || Count > Setup.RefusesOver;
  DWORD Taken = Refused ? 0 : std::min(Count, Setup.WriteLimit);
  Result.Output.append((const char *)Buffer, Taken);
  *Written = Setup.Reports && Taken ? Setup.Reports((const char *)Buffer, Taken) : Taken;
  return !Setup.WriteFails && !Refused;
}

VOID WINAPI ExitProcess(UINT Code) {
  Log("ExitProcess(%u)", Code);
  Result.ExitCode = (int)Code;
  std::longjmp(Exited, 1);
}
}

// The program's frames hold nothing to unwind, so leaving them by longjmp
// from ExitProcess is as final as the real exit.
Outcome Run(const Script &With, void (*Routine)()) {
  Setup = With;
  Result = Outcome();
  Writes = 0;
  if (setjmp(Exited) == 0)
    Routine();
  for (const auto &Held : Blocks)
    std::free(Held.first);
  Result.BlocksHeld = Blocks.size();
  Blocks.clear();
  return Result;
}
