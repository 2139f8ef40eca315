#include <gtest/gtest.h>

#include "console/print_text.h"
#include "display/program_state.h"
#include "display/show_file.h"
#include "display/start.h"
#include "tests/scripted_kernel32.h"

using Calls = std::vector<std::string>;

// Each run starts as a new process does, with the program's state all zero.
static Outcome RunFresh(const Script &Setup, void (*Routine)()) {
  ProgramState = PROGRAM_STATE();
  return Run(Setup, Routine);
}

TEST(Start, TypicalRunTakesEachStepInOrder) {
  Script File;
  File.File = "abc";
  Outcome Run = RunFresh(File, Start);
  EXPECT_EQ(Run.Calls, (Calls{
                           "GetProcessHeap()",
                           "CreateFileA(\"test.txt\", 0x80000000, 0, 0, 3, 0x80, 0)",
                           "GetFileSize(file, 0)",
                           "HeapAlloc(heap, 8, 4)",
                           "ReadFile(file, block, 3, &count, 0)",
                           "CloseHandle(file)",
                           "GetStdHandle(-11)",
                           "WriteFile(stdout, block, 3, &count, 0)",
                           "HeapFree(heap, 0, block)",
                           "ExitProcess(0)",
                       }));
  EXPECT_EQ(Run.Output, "abc");
  EXPECT_EQ(Run.BlocksHeld, 0u);
}

TEST(ShowFile, OpenFailurePrintsMessageAndEndsTheProcess) {
  Script Missing;
  Missing.OpenFails = true;
  Outcome Run = RunFresh(Missing, ShowFile);
  EXPECT_EQ(Run.Calls, (Calls{
                           "CreateFileA(\"test.txt\", 0x80000000, 0, 0, 3, 0x80, 0)",
                           "GetStdHandle(-11)",
                           "WriteFile(stdout, ?, 14, &count, 0)",
                           "ExitProcess(0)",
                       }));
  EXPECT_EQ(Run.Output, "file not found");
  EXPECT_EQ(Run.ExitCode, 0); // not -1: ShowFile did not return

  // The message is not the file's text: its write isn't judged.
  Missing.WriteFails = true;
  Missing.WriteLimit = 0;
  EXPECT_EQ(RunFresh(Missing, ShowFile).ExitCode, 0);
}

// What the file holds, what the platform says and does, and what comes out.
TEST(ShowFile, PrintsWhatTheReadDelivered) {
  struct {
    const char *Name;
    std::string File;
    std::optional<unsigned long long> Length;
    DWORD ReadLimit;
    std::string Output;
  } Cases[] = {
      {"empty", "", {}, ~0u, ""},
      {"letters", "abc", {}, ~0u, "abc"},
      {"exact group", "abcd", {}, ~0u, "abcd"},
      {"CR LF and high bytes", "a\r\n\x80\xFF\x01\r\n", {}, ~0u, "a\r\n\x80\xFF\x01\r\n"},
      {"zero at 2", std::string("ab\0cd", 5), {}, ~0u, "ab"},
      {"zero first", std::string("\0abc", 4), {}, ~0u, ""},
      {"short read", "abcdef", {}, 2, "ab"},
      {"shrank after the size query", "abc", 6, ~0u, "abc"},
      {"read delivers nothing", "abc", {}, 0, ""},
      {"4 GiB + 3: the low 32 bits count", "xyz and the rest", (1ull << 32) + 3, ~0u, "xyz"},
  };
  for (const auto &Case : Cases) {
    Script File;
    File.File = Case.File;
    File.Length = Case.Length;
    File.ReadLimit = Case.ReadLimit;
    Outcome Run = RunFresh(File, ShowFile);
    EXPECT_EQ(Run.Output, Case.Output) << Case.Name;
    EXPECT_EQ(Run.ExitCode, -1) << Case.Name;
    EXPECT_EQ(Run.BlocksHeld, 0u) << Case.Name;
  }
}

// Whenever the text can't get out whole, exit code 1, the buffer given back,
// and nothing printed that the platform didn't take.
TEST(ShowFile, EndsWithCode1WhenTheTextCannotGetOutWhole) {
  Script AllOnes;
  AllOnes.Length = INVALID_FILE_SIZE;
  Script Refused;
  Refused.File = "abc";
  Refused.HeapRefuses = true;
  Script ReadFails;
  ReadFails.File = "abcdef";
  ReadFails.ReadLimit = 2; // part delivered, then an error
  ReadFails.ReadFails = true;
  Script WriteFails;
  WriteFails.File = "abcdef";
  WriteFails.WriteLimit = 0;
  WriteFails.WriteFails = true;
  Script ShortWrite;
  ShortWrite.File = "abcdef";
  ShortWrite.WriteLimit = 4;
  // Counts past the text must not be looked up in the buffer.
  Script ReportsMore;
  ReportsMore.File = "abc";
  ReportsMore.Reports = [](const char *, DWORD Taken) { return Taken + 1; };
  Script ReportsMoreBeforeZeros = ReportsMore;
  ReportsMoreBeforeZeros.File = std::string("abc\0\0\0", 6);
  // Nothing taken by a write that said it succeeded: not whole, for its text
  // has characters that a console counting them would have counted.
  Script TakesNothing;
  TakesNothing.File = "abc";
  TakesNothing.WriteLimit = 0;
  Script ReportsFarMore = ReportsMore;
  ReportsFarMore.Reports = [](const char *, DWORD Taken) { return Taken + 0x80000000u; };
  struct {
    const char *Name;
    Script Setup;
    std::vector<std::string> NeverCalled;
    std::string Output;
  } Cases[] = {
      {"size all ones", AllOnes, {"ReadFile", "WriteFile"}, ""},
      {"heap refuses", Refused, {"ReadFile", "WriteFile"}, ""},
      {"read fails", ReadFails, {"WriteFile"}, ""},
      {"write fails", WriteFails, {}, ""},
      {"short write", ShortWrite, {}, "abcd"},
      {"more reported than asked", ReportsMore, {}, "abc"},
      {"far more reported than asked", ReportsFarMore, {}, "abc"},
      {"more reported than asked, zero bytes after", ReportsMoreBeforeZeros, {}, "abc"},
      {"nothing taken, success said", TakesNothing, {}, ""},
  };
  for (const auto &Case : Cases) {
    Outcome Run = RunFresh(Case.Setup, ShowFile);
    EXPECT_EQ(Run.ExitCode, 1) << Case.Name;
    EXPECT_EQ(Run.Output, Case.Output) << Case.Name;
    EXPECT_EQ(Run.BlocksHeld, 0u) << Case.Name;
    for (const std::string &Call : Run.Calls)
      for (const std::string &Never : Case.NeverCalled)
        EXPECT_NE(Call.rfind(Never, 0), 0u) << Case.Name << ": " << Call;
  }
}

// Two texts, the second taken only in part: each call asks for standard
// output anew and returns what the platform took, not what it asked for.
TEST(PrintText, ReturnsTheCountWrittenAndTakesStandardOutputAfresh) {
  Script Narrow;
  Narrow.WriteLimit = 3;
  Outcome Run = ::Run(Narrow, [] {
    static const char Texts[2][8] = {"one", "three"};
    EXPECT_EQ(PrintText(Texts[0]), 3u);
    EXPECT_EQ(PrintText(Texts[1]), 3u);
  });
  EXPECT_EQ(Run.Calls, (Calls{
                           "GetStdHandle(-11)",
                           "WriteFile(stdout, ?, 3, &count, 0)",
                           "GetStdHandle(-11)",
                           "WriteFile(stdout, ?, 5, &count, 0)",
                       }));
  EXPECT_EQ(Run.Output, "onethr");
}

// An old console refuses a single large write, taking nothing. Only then does
// the text go out again, in pieces of 32 KiB, each less by what it takes to end
// before the lead byte of a character, at most 3: 32,768 falls inside the UTF-8
// text's characters at the first two pieces, and continuation bytes alone have
// no lead byte to end before. Pieces go in order, up to the first that isn't
// taken whole. A console in code page 65001 reports characters, not bytes: a
// count that matches the characters of a write that said it succeeded is whole
// (continuation bytes alone are none), any other ends the output, and nothing
// is written twice.
TEST(PrintText, GoesOutInPiecesOnlyAfterALargeWriteTookNothing) {
  std::string Large, Utf8;
  for (int Line = 0; Large.size() < 100000; Line++)
    Large += "line " + std::to_string(Line) + "\r\n";
  Large.resize(100000);
  // 1, 2, 3 and 4 bytes a character, so that 32 KiB falls inside one.
  while (Utf8.size() < 100000)
    Utf8 += "a\u00e9\u20ac\U0001F600";
  const std::string Continuations(40000, '\x80'), ManyContinuations(100000, '\x80');
  const DWORD OldConsole = 64 << 10, Any = ~0u;
  static auto Characters = [](const char *Bytes, DWORD Taken) {
    DWORD Count = 0;
    for (DWORD At = 0; At < Taken; At++)
      Count += ((unsigned char)Bytes[At] & 0xC0) != 0x80;
    return Count;
  };
  auto Utf16 = [](const char *Bytes, DWORD Taken) {
    DWORD Count = Characters(Bytes, Taken);
    for (DWORD At = 0; At < Taken; At++)
      Count += (unsigned char)Bytes[At] >= 0xF0;
    return Count;
  };
  auto OneShort = [](const char *Bytes, DWORD Taken) { return Characters(Bytes, Taken) - 1; };
  auto TenthShort = [](const char *, DWORD Taken) { return Taken - Taken / 10; };
  const std::string Piece(32768, 'x'), PieceAndOne(32769, 'x');
  struct {
    const char *Name;
    std::string File;
    DWORD RefusesOver;
    int FailingWrite;
    DWORD (*Reports)(const char *, DWORD);
    bool SaysFailed;
    int ExitCode;
    size_t Shown;       // bytes of the file that come out
    const char *Writes; // the bytes each write is asked for, in order
  } Cases[] = {
      {"old console", Large, OldConsole, 0, nullptr, false, 0, 100000,
       "100000 32768 32768 32768 1696"},
      {"old console, counting short", Large, OldConsole, 0, TenthShort, false, 1, 32768,
       "100000 32768"},
      {"old console, second piece fails", Large, OldConsole, 3, nullptr, false, 1, 32768,
       "100000 32768 32768"},
      {"counting short", Large, Any, 0, TenthShort, false, 1, 100000, "100000"},
      {"every byte reported by a write that failed", Large, Any, 0, nullptr, true, 0, 100000,
       "100000"},
      {"small text", "abc", OldConsole, 0, nullptr, false, 0, 3, "3"},
      {"small text refused", "abc", 0, 0, nullptr, false, 1, 0, "3"},
      {"32 KiB refused", Piece, 0, 0, nullptr, false, 1, 0, "32768"},
      {"32 KiB + 1 refused", PieceAndOne, 0, 0, nullptr, false, 1, 0, "32769 32768"},
      {"32 KiB + 1, pieces up to 32 KiB", PieceAndOne, 32768, 0, nullptr, false, 0, 32769,
       "32769 32768 1"},
      {"UTF-8 characters counted", Utf8, Any, 0, Characters, false, 0, 100000, "100000"},
      {"UTF-16 units counted", Utf8, Any, 0, Utf16, false, 0, 100000, "100000"},
      {"characters counted, old console", Utf8, OldConsole, 0, Characters, false, 0, 100000,
       "100000 32766 32767 32768 1699"},
      {"one character short", Utf8, Any, 0, OneShort, false, 1, 100000, "100000"},
      {"characters counted, old console, one short", Utf8, OldConsole, 0, OneShort, false, 1, 32766,
       "100000 32766"},
      {"characters counted by a write that failed", Utf8, Any, 0, Characters, true, 1, 100000,
       "100000"},
      {"continuation bytes only, UTF-8 characters counted", Continuations, Any, 0, Characters,
       false, 0, 40000, "40000"},
      {"continuation bytes only, UTF-16 units counted", Continuations, Any, 0, Utf16, false, 0,
       40000, "40000"},
      {"continuation bytes only, characters counted, old console", ManyContinuations, OldConsole, 0,
       Characters, false, 0, 100000, "100000 32765 32765 32765 1705"},
  };
  for (const auto &Case : Cases) {
    Script Console;
    Console.File = Case.File;
    Console.RefusesOver = Case.RefusesOver;
    Console.FailingWrite = Case.FailingWrite;
    Console.Reports = Case.Reports;
    Console.WriteFails = Case.SaysFailed;
    Outcome Run = RunFresh(Console, Start);
    EXPECT_EQ(Run.ExitCode, Case.ExitCode) << Case.Name;
    EXPECT_EQ(Run.Output.size(), Case.Shown) << Case.Name;
    EXPECT_TRUE(Case.File.compare(0, Run.Output.size(), Run.Output) == 0) << Case.Name;
    std::string Asked;
    for (const std::string &Call : Run.Calls)
      if (Call.rfind("WriteFile(", 0) == 0) {
        size_t Count = Call.find(", ", Call.find(", ") + 2) + 2;
        Asked += (Asked.empty() ? "" : " ") + Call.substr(Count, Call.find(',', Count) - Count);
      }
    EXPECT_EQ(Asked, Case.Writes) << Case.Name;
  }
}
