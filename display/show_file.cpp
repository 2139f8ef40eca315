#include "display/show_file.h"

#include "console/print_text.h"
#include "console/text_length.h"
#include "display/alloc_zeroed.h"
#include "display/program_state.h"

static const char FileName[] = "test.txt";

// Sized to whole 4-byte groups, as PrintText requires: 14 bytes, the zero
// byte, and one byte of padding.
static const char FileNotFound[16] = "file not found";
static_assert(sizeof FileNotFound == TextStorage(sizeof "file not found" - 1),
              "the message's storage must hold TextLength's groups whole");

void ShowFile() {
  // Share mode 0: on Windows nobody else may open the file while it is open
  // here, so it holds still between the size query and the read. Where the
  // platform can only lock advisorily (POSIX), a writer that takes no lock
  // may still change it; what comes out then stops where the read did.
  HANDLE File = CreateFileA(FileName, GENERIC_READ, 0, 0, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, 0);
  if (File == INVALID_HANDLE_VALUE) {
    PrintText(FileNotFound);
    ExitProcess(0);
  }
  ProgramState.FileHandle = File;

  ProgramState.FileSize = GetFileSize(ProgramState.FileHandle, 0);

  // One byte more than the file: zero-filled, it ends the text even when the
  // file has no zero byte or the read delivers less than asked.
  ProgramState.Text = (LPSTR)AllocZeroed(ProgramState.Heap, ProgramState.FileSize + 1);

  BOOL Read = ReadFile(ProgramState.FileHandle, ProgramState.Text, ProgramState.FileSize,
                       &ProgramState.BytesRead, 0);
  CloseHandle(ProgramState.FileHandle);

  // A read that failed part-way would show a file cut short as if it were
  // whole: nothing is shown, and the exit code says so. PrintText never
  // counts more than the text, every byte of which is non-zero, so it wrote
  // all of it exactly when the byte just past what it wrote is the zero
  // byte: one look instead of counting the text again.
  BOOL Shown = Read && ProgramState.Text[PrintText(ProgramState.Text)] == 0;
  HeapFree(ProgramState.Heap, 0, ProgramState.Text);
  if (!Shown)
    ExitProcess(1);
}
