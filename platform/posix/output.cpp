// Standard output over its POSIX descriptor, with kernel32's contract: a
// write moves the whole count unless a real error occurs.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include "platform/posix/handle.h"

// Standard output is the only standard handle the program asks for.
HANDLE WINAPI GetStdHandle(DWORD) {
  return HandleOf(STDOUT_FILENO);
}

// A large write into a pipe (or a FIFO) goes differently, from this size on.
static const DWORD LargeWrite = 64u << 10;

// A pipe holds 64 KiB unless asked for more, so a large write into one goes
// in 64 KiB steps, each waiting for the reader to make room. Where the system
// allows it (1 MiB is the usual limit for an ordinary user) the pipe is
// widened first: a sixteenth of the round trips. The pipe keeps its new
// size; it is never made smaller, and when the system says no the write
// simply goes ahead.
static const int WidePipe = 1 << 20;

// vmsplice moves bytes the way the descriptor is open: on one open only for
// reading it would take them out of the pipe, someone else's bytes, or wait
// for some. Such a standard output is written to, and refuses.
static bool IsPipeOpenForWriting(int Fd) {
  struct stat Status;
  if (fstat(Fd, &Status) != 0 || !S_ISFIFO(Status.st_mode))
    return false;
  int Mode = fcntl(Fd, F_GETFL);
  return Mode >= 0 && (Mode & O_ACCMODE) != O_RDONLY;
}

#ifndef SPLICE_F_GIFT
// Outside Linux there is no vmsplice: a pipe is written to like a file.
static ssize_t vmsplice(int Fd, const struct iovec *Piece, unsigned long, unsigned) {
  return write(Fd, Piece->iov_base, Piece->iov_len);
}
#endif

// Standard output may be non-blocking: waits for room, and says whether to
// write again. An interrupted wait is made again; a descriptor closed
// meanwhile (POLLNVAL) or a wait that fails ends the write.
static bool WaitForRoom(int Fd) {
  struct pollfd Wait = {Fd, POLLOUT, 0};
  if (poll(&Wait, 1, -1) < 0)
    return errno == EINTR;
  return (Wait.revents & POLLNVAL) == 0;
}

// Goes on after short writes, interruptions and a standard output that would
// block, until all is written or a real error occurs. A large text goes into
// a pipe by vmsplice, which hands the pipe the buffer's pages instead of
// copying them: the reader's copy is the only one. That is safe because the
// pipe takes references of its own to the pages (no SPLICE_F_GIFT: they stay
// the program's too), so the buffer may be freed and the process may end
// before the reader has read, and what the reader gets is what the buffer
// held, since nothing writes to the buffer once it is handed over: ShowFile
// only frees it. A refusal ends the write like any other error: one that
// took nothing is sent again in pieces by PrintText, each a write(2).
BOOL WINAPI WriteFile(HANDLE File, LPCVOID Buffer, DWORD BytesToWrite, LPDWORD BytesWritten,
                      LPOVERLAPPED) {
  int Fd = FdOf(File);
  char *From = (char *)Buffer;
  bool Splicing = BytesToWrite >= LargeWrite && IsPipeOpenForWriting(Fd);
#ifdef F_SETPIPE_SZ
  if (Splicing && fcntl(Fd, F_GETPIPE_SZ) < WidePipe)
    fcntl(Fd, F_SETPIPE_SZ, WidePipe);
#endif
  DWORD Written = 0;
  while (Written < BytesToWrite) {
    struct iovec Piece = {From + Written, StepOf(BytesToWrite - Written)};
    ssize_t Result =
        Splicing ? vmsplice(Fd, &Piece, 1, 0) : write(Fd, Piece.iov_base, Piece.iov_len);
    if (Result < 0 &&
        (errno == EINTR || ((errno == EAGAIN || errno == EWOULDBLOCK) && WaitForRoom(Fd))))
      continue;
    // A real error, or a write that took nothing and so would never finish.
    if (Result <= 0)
      break;
    Written += (DWORD)Result;
  }
  *BytesWritten = Written;
  return Written == BytesToWrite;
}
