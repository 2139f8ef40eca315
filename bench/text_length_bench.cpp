// TextLength against the same scan not unrolled, a byte-at-a-time loop and the
// C library's strlen, on texts stored as the program stores them.
#include <benchmark/benchmark.h>
#include <cstring>
#include <vector>

#include "console/text_length.h"

// Kept a plain loop: GCC may otherwise recognise it and call strlen.
__attribute__((noinline, optimize("no-tree-loop-distribute-patterns"))) static DWORD
ByteAtATime(const char *Text) {
  DWORD Length = 0;
  while (Text[Length] != 0)
    Length++;
  return Length;
}

// The same scan with one test to a pass instead of four, to show what the
// unrolling buys. Little-endian, like the machines the benchmark runs on.
__attribute__((noinline)) static DWORD OneTestAPass(const char *Text) {
  DWORD Offset = 0, Group, Flags;
  for (;;) {
    std::memcpy(&Group, Text + Offset, 4);
    if ((Flags = (Group - 0x01010101u) & ~Group & 0x80808080u) != 0)
      break;
    Offset += 4;
  }
  return Offset + (DWORD)__builtin_ctz(Flags) / 8;
}

static std::vector<char> MakeText(size_t Length) {
  std::vector<char> Storage(TextStorage(Length), 0);
  for (size_t I = 0; I < Length; I++)
    Storage[I] = (char)('a' + I % 26);
  return Storage;
}

template <typename Scan> static void Run(benchmark::State &State, Scan Count) {
  std::vector<char> Text = MakeText((size_t)State.range(0));
  for (auto _ : State) {
    benchmark::DoNotOptimize(Text.data());
    benchmark::DoNotOptimize(Count(Text.data()));
  }
  State.SetBytesProcessed((int64_t)State.iterations() * State.range(0));
}

static void BM_TextLength(benchmark::State &State) {
  Run(State, TextLength);
}
static void BM_OneTestAPass(benchmark::State &State) {
  Run(State, OneTestAPass);
}
static void BM_ByteAtATime(benchmark::State &State) {
  Run(State, ByteAtATime);
}
static void BM_strlen(benchmark::State &State) {
  Run(State, [](const char *Text) { return strlen(Text); });
}

#define SIZES Arg(16)->Arg(256)->Arg(4 << 10)->Arg(64 << 10)->Arg(1 << 20)->Arg(16 << 20)
BENCHMARK(BM_TextLength)->SIZES;
BENCHMARK(BM_OneTestAPass)->SIZES;
BENCHMARK(BM_ByteAtATime)->SIZES;
BENCHMARK(BM_strlen)->SIZES;
BENCHMARK_MAIN();
