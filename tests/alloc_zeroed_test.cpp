#include <gtest/gtest.h>

#include "display/alloc_zeroed.h"
#include "tests/scripted_kernel32.h"

// What AllocZeroed asks the heap for at the edges of a 32-bit size, or that it
// ends the process with code 1 without asking. The padding is added in
// SIZE_T's width: on a 64-bit host nothing but 0 wraps, on a 32-bit host the
// sizes from 0xFFFFFFFD up do. The heap refuses every block, so no test
// really allocates 4 GiB.
TEST(AllocZeroed, PadsInSizeTsWidthAndRefusesWhatWraps) {
  const bool Wide = sizeof(SIZE_T) > 4;
  struct {
    DWORD Size;
    std::vector<std::string> Calls;
  } Cases[] = {
      {0, {"ExitProcess(1)"}},
      {13, {"HeapAlloc(0, 8, 16)", "ExitProcess(1)"}},
      {0xFFFFFFFC, {"HeapAlloc(0, 8, 4294967292)", "ExitProcess(1)"}},
      {0xFFFFFFFD, {Wide ? "HeapAlloc(0, 8, 4294967296)" : "", "ExitProcess(1)"}},
      {0xFFFFFFFE, {Wide ? "HeapAlloc(0, 8, 4294967296)" : "", "ExitProcess(1)"}},
      {0xFFFFFFFF, {Wide ? "HeapAlloc(0, 8, 4294967296)" : "", "ExitProcess(1)"}},
  };
  Script Refusing;
  Refusing.HeapRefuses = true;
  for (auto &Case : Cases) {
    static DWORD Size;
    Size = Case.Size;
    if (Case.Calls[0].empty())
      Case.Calls.erase(Case.Calls.begin());
    Outcome Run = ::Run(Refusing, [] { AllocZeroed(0, Size); });
    EXPECT_EQ(Run.Calls, Case.Calls)
        << "size " << Case.Size << ", " << sizeof(SIZE_T) * 8 << " bits";
  }
}
