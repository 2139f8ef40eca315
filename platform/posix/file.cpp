// Files and standard output over POSIX descriptors, with kernel32's contract:
// an open that Windows would refuse fails here too, and a read or write moves
// the whole count unless the file ends or a real error occurs.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include "platform/posix/handle.h"

// The name of descriptor Fd under /proc/self/fd/, in Name.
static void ProcFdName(int Fd, char (&Name)[32]) {
  static const char Directory[] = "/proc/self/fd/";
  __builtin_memcpy(Name, Directory, sizeof Directory - 1);
  int Digits = 1;
  for (int Rest = Fd / 10; Rest != 0; Rest /= 10)
    Digits++;
  char *At = Name + sizeof Directory - 1 + Digits;
  *At = 0;
  do
    *--At = (char)('0' + Fd % 10);
  while ((Fd /= 10) != 0);
}

// Fd when it is open on the very regular file Looked at; otherwise it is
// closed, and -1.
static int KeptIfLookedAt(int Fd, const struct stat &Looked) {
  struct stat Opened;
  if (Fd < 0)
    return -1;
  if (fstat(Fd, &Opened) != 0 || !S_ISREG(Opened.st_mode) || Opened.st_dev != Looked.st_dev ||
      Opened.st_ino != Looked.st_ino) {
    close(Fd);
    return -1;
  }
  return Fd;
}

// Opens Name for reading without waiting on anyone: -1 where the open would
// have to wait. A file under another process's write lease (as Samba and
// NFS servers take them) is held open for writing elsewhere, and an open
// that would break the lease waits out the holder, 45 s by default; as under
// share mode 0 on Windows, such a file is refused at once. O_NONBLOCK also
// keeps a FIFO swapped in for the file from holding the open up. It comes
// off again at once: the read waits for the file, never spins on it.
static int OpenWithoutWaiting(LPCSTR Name) {
  int Fd = open(Name, O_RDONLY | O_NONBLOCK | O_NOCTTY);
  if (Fd >= 0 && fcntl(Fd, F_SETFL, 0) != 0) {
    close(Fd);
    return -1;
  }
  return Fd;
}

// Opens FileName for reading when it names a regular file; -1 otherwise.
//
// Windows opens only files as files. Anything else (a directory, a FIFO, a
// socket, a device) is turned away without being opened, since opening a
// FIFO or a device already acts on it: a writer waiting at a FIFO would be
// let through to nobody. What is looked at must be what is opened, or a name
// swapped in between lets one through after all. So on Linux the name is
// resolved once, by an O_PATH open that acts on nothing it finds; that is
// looked at, and opened for reading through /proc/self/fd, which reaches the
// very same file whatever the name now holds. Without /proc, and where
// O_PATH is missing, it is opened by name and checked to be the file looked
// at: a FIFO swapped in between may then be opened, never read or shown.
//
// No O_CLOEXEC: the program never starts another, and musl would spend a
// system call on it.
static int OpenRegularFile(LPCSTR FileName) {
  struct stat Status;
#ifdef O_PATH
  int Path = open(FileName, O_PATH);
  if (Path < 0)
    return -1;
  if (fstat(Path, &Status) != 0 || !S_ISREG(Status.st_mode)) {
    close(Path);
    return -1;
  }
  char Name[32];
  ProcFdName(Path, Name);
  int Fd = OpenWithoutWaiting(Name);
  if (Fd < 0 && errno == ENOENT) // no /proc here
    Fd = KeptIfLookedAt(OpenWithoutWaiting(FileName), Status);
  close(Path);
  return Fd;
#else
  if (stat(FileName, &Status) != 0 || !S_ISREG(Status.st_mode))
    return -1;
  return KeptIfLookedAt(OpenWithoutWaiting(FileName), Status);
#endif
}

HANDLE WINAPI CreateFileA(LPCSTR FileName, DWORD DesiredAccess, DWORD ShareMode,
                          LPSECURITY_ATTRIBUTES, DWORD CreationDisposition, DWORD, HANDLE) {
  // Only what the program asks for is offered: open an existing file to read.
  if (DesiredAccess != GENERIC_READ || CreationDisposition != OPEN_EXISTING)
    return INVALID_HANDLE_VALUE;
  int Fd = OpenRegularFile(FileName);
  if (Fd < 0)
    return INVALID_HANDLE_VALUE;

  // Share mode 0: nobody else may hold the file while we do. POSIX has no
  // mandatory equivalent; an exclusive flock keeps out everyone who asks for
  // one too. Only someone else's lock turns the open down: where locks can't
  // be had at all (a file system without a lock service), the file is
  // readable all the same and is shown.
  if (ShareMode == 0 && flock(Fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
    close(Fd);
    return INVALID_HANDLE_VALUE;
  }
  return HandleOf(Fd);
}

DWORD WINAPI GetFileSize(HANDLE File, LPDWORD FileSizeHigh) {
  struct stat Status;
  if (fstat(FdOf(File), &Status) != 0)
    return INVALID_FILE_SIZE;
  unsigned long long Size = (unsigned long long)Status.st_size;
  if (FileSizeHigh)
    *FileSizeHigh = (DWORD)(Size >> 32);
  return (DWORD)Size;
}

BOOL WINAPI CloseHandle(HANDLE Object) {
  return close(FdOf(Object)) == 0;
}

// No single read or write call moves more than this; Linux stops just short
// of 2 GiB anyway, and other systems may refuse counts above SSIZE_MAX.
static const DWORD LargestStep = 1u << 30;

// How Transfer moves bytes: read from the file, written to standard output
// with write(2), or handed to a pipe with vmsplice(2).
enum MOVE { Reading, Writing, Splicing };

// Moves Count bytes between Fd and Buffer, going on after short transfers,
// interruptions and a standard output that would block, until all are moved,
// the file ends (reading), or a real error occurs. Done receives the bytes
// moved. A pipe that refuses vmsplice before any byte has moved is written
// to instead.
static BOOL Transfer(int Fd, char *Buffer, DWORD Count, LPDWORD Done, MOVE How) {
  DWORD Moved = 0;
  BOOL Ok = TRUE;
  while (Moved < Count) {
    DWORD Step = Count - Moved < LargestStep ? Count - Moved : LargestStep;
    ssize_t Result;
    if (How == Reading) {
      Result = read(Fd, Buffer + Moved, Step);
    } else if (How == Writing) {
      Result = write(Fd, Buffer + Moved, Step);
    } else {
#ifdef SPLICE_F_GIFT
      struct iovec Piece = {Buffer + Moved, Step};
      Result = vmsplice(Fd, &Piece, 1, 0);
#else
      Result = -1;
      errno = ENOSYS;
#endif
      if (Result < 0 && Moved == 0 && (errno == EINVAL || errno == ENOSYS || errno == EBADF)) {
        How = Writing;
        continue;
      }
    }
    if (Result > 0) {
      Moved += (DWORD)Result;
      continue;
    }
    if (Result == 0) {
      // End of file; a write that takes nothing would never finish.
      Ok = How == Reading;
      break;
    }
    if (errno == EINTR)
      continue;
    // Standard output may be non-blocking: wait for room, and stop where
    // the wait itself fails. The file is read blocking, so a read that
    // would block is an error like any other.
    if (How != Reading && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      struct pollfd Wait = {Fd, POLLOUT, 0};
      if (poll(&Wait, 1, -1) >= 0 ? (Wait.revents & POLLNVAL) == 0 : errno == EINTR)
        continue;
    }
    Ok = FALSE;
    break;
  }
  if (Done)
    *Done = Moved;
  return Ok;
}

BOOL WINAPI ReadFile(HANDLE File, LPVOID Buffer, DWORD BytesToRead, LPDWORD BytesRead,
                     LPOVERLAPPED) {
  return Transfer(FdOf(File), (char *)Buffer, BytesToRead, BytesRead, Reading);
}

// A large write into a pipe (or a FIFO) goes differently, from this size on.
static const DWORD LargeWrite = 64u << 10;

// A pipe holds 64 KiB unless asked for more, so a large write into one goes
// in 64 KiB steps, each waiting for the reader to make room. Where the system
// allows it (1 MiB is the usual limit for an ordinary user) the pipe is
// widened first, which BENCHMARKS.md measures. The pipe keeps its new size;
// it is never made smaller, and when the system says no the write simply
// goes ahead.
static const int WidePipe = 1 << 20;

static void WidenPipe(int Fd) {
#ifdef F_SETPIPE_SZ
  if (fcntl(Fd, F_GETPIPE_SZ) < WidePipe)
    fcntl(Fd, F_SETPIPE_SZ, WidePipe);
#else
  (void)Fd;
#endif
}

// vmsplice moves bytes the way the descriptor is open: on one open only for
// reading it would take them out of the pipe, someone else's bytes, or wait
// for some. Such a standard output is written to, and refuses.
static bool OpenForWriting(int Fd) {
  int Mode = fcntl(Fd, F_GETFL);
  return Mode >= 0 && (Mode & O_ACCMODE) != O_RDONLY;
}

// A large text goes into a pipe by vmsplice, which hands the pipe the
// buffer's pages instead of copying them: the reader's copy is the only one.
// That is safe because the pipe takes references of its own to the pages
// (no SPLICE_F_GIFT: they stay the program's too), so the buffer may be freed
// and the process may end before the reader has read, and what the reader
// gets is what the buffer held, since nothing writes to the buffer once it
// is handed over: ShowFile only frees it.
BOOL WINAPI WriteFile(HANDLE File, LPCVOID Buffer, DWORD BytesToWrite, LPDWORD BytesWritten,
                      LPOVERLAPPED) {
  int Fd = FdOf(File);
  struct stat Status;
  MOVE How = Writing;
  if (BytesToWrite >= LargeWrite && fstat(Fd, &Status) == 0 && S_ISFIFO(Status.st_mode) &&
      OpenForWriting(Fd)) {
    WidenPipe(Fd);
    How = Splicing;
  }
  return Transfer(Fd, (char *)Buffer, BytesToWrite, BytesWritten, How);
}
