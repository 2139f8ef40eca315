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
  ReportsMore.Reports = [](DWORD Taken) { return Taken + 1; };
  Script ReportsFarMore = ReportsMore;
  ReportsFarMore.Reports = [](DWORD Taken) { return Taken + 0x80000000u; };
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
// the text go out again, in pieces of at most 32 KiB and in order, up to the
// first piece that isn't taken whole: a console that counts characters, not
// bytes, reports less than it took, and nothing may be written twice.
TEST(PrintText, GoesOutInPiecesOnlyAfterALargeWriteTookNothing) {
  std::string Large;
  for (int Line = 0; Large.size() < 100000; Line++)
    Large += "line " + std::to_string(Line) + "\r\n";
  Large.resize(100000);
  const DWORD OldConsole = 64 << 10, Any = ~0u;
  auto TenthShort = [](DWORD Taken) { return Taken - Taken / 10; };
  struct {
    const char *Name;
    std::string File;
    DWORD RefusesOver;
    int FailingWrite;
    DWORD (*Reports)(DWORD);
    int ExitCode;
    size_t Shown; // bytes of the file that come out
    size_t Writes;
  } Cases[] = {
      {"old console", Large, OldConsole, 0, nullptr, 0, 100000, 5},
      {"old console, counting short", Large, OldConsole, 0, TenthShort, 1, 32768, 2},
      {"old console, second piece fails", Large, OldConsole, 3, nullptr, 1, 32768, 3},
      {"counting short", Large, Any, 0, TenthShort, 1, 100000, 1},
      {"small text", "abc", OldConsole, 0, nullptr, 0, 3, 1},
      {"small text refused", "abc", 0, 0, nullptr, 1, 0, 1},
  };
  for (const auto &Case : Cases) {
    Script Console;
    Console.File = Case.File;
    Console.RefusesOver = Case.RefusesOver;
    Console.FailingWrite = Case.FailingWrite;
    Console.Reports = Case.Reports;
    Outcome Run = RunFresh(Console, Start);
    EXPECT_EQ(Run.ExitCode, Case.ExitCode) << Case.Name;
    EXPECT_EQ(Run.Output.size(), Case.Shown) << Case.Name;
    EXPECT_TRUE(Case.File.compare(0, Run.Output.size(), Run.Output) == 0) << Case.Name;
    std::vector<unsigned long> Asked;
    for (const std::string &Call : Run.Calls)
      if (Call.rfind("WriteFile(", 0) == 0)
        Asked.push_back(std::stoul(Call.substr(Call.find(", ", Call.find(", ") + 2) + 2)));
    EXPECT_EQ(Asked.size(), Case.Writes) << Case.Name;
    for (size_t Write = 1; Write < Asked.size(); Write++)
      EXPECT_LE(Asked[Write], 32768u) << Case.Name << ", write " << Write + 1;
  }
}
