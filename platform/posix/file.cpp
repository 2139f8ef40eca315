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

// Opens FileName for reading by name when it names the very regular file
// Looked at; -1 otherwise. O_NONBLOCK keeps a FIFO swapped in since the look
// from holding the open up, and comes off once the file is known for the
// one looked at: the read waits for the file, never spins on it.
static int OpenLookedAt(LPCSTR FileName, const struct stat &Looked) {
  int Fd = KeptIfLookedAt(open(FileName, O_RDONLY | O_NONBLOCK | O_NOCTTY), Looked);
  if (Fd >= 0 && fcntl(Fd, F_SETFL, 0) != 0) {
    close(Fd);
    return -1;
  }
  return Fd;
}

#ifdef O_PATH
static const int CantByHandle = -2;

// Opens for reading the file that the O_PATH descriptor Path holds, the
// regular file Looked at, by its file handle: -1 when it can't be read,
// CantByHandle when the process may not open files by handle
// (CAP_DAC_READ_SEARCH) or the file system has none. The handle is opened
// on the current directory's mount, so only a file on that one is.
static int OpenByHandle(int Path, const struct stat &Looked) {
  alignas(struct file_handle) char Storage[sizeof(struct file_handle) + MAX_HANDLE_SZ];
  struct file_handle *Handle = (struct file_handle *)Storage;
  int Mount, Here;
  Handle->handle_bytes = MAX_HANDLE_SZ;
  if (name_to_handle_at(AT_FDCWD, ".", Handle, &Here, 0) != 0)
    return CantByHandle;
  Handle->handle_bytes = MAX_HANDLE_SZ;
  if (name_to_handle_at(Path, "", Handle, &Mount, AT_EMPTY_PATH) != 0 || Mount != Here)
    return CantByHandle;
  int Fd = open_by_handle_at(AT_FDCWD, Handle, O_RDONLY | O_NOCTTY);
  if (Fd < 0)
    return errno == EPERM ? CantByHandle : -1;
  return KeptIfLookedAt(Fd, Looked);
}
#endif

// Opens FileName for reading when it names a regular file; -1 otherwise.
//
// Windows opens only files as files. Anything else (a directory, a FIFO, a
// socket, a device) is turned away without being opened, since opening a
// FIFO or a device already acts on it: a writer waiting at a FIFO would be
// let through to nobody. What is looked at must be what is opened, or a name
// swapped in between lets one through after all. So on Linux the name is
// resolved once, by an O_PATH open that acts on nothing it finds; that is
// looked at, and opened for reading through /proc/self/fd, which reaches the
// very same file whatever the name now holds. Without /proc it is opened by
// its file handle where the process may (CAP_DAC_READ_SEARCH), which reaches
// it as surely; elsewhere, and where O_PATH is missing, by name, checked to
// be the file looked at: a FIFO swapped in between may then be opened, never
// read or shown.
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
  int Fd = open(Name, O_RDONLY | O_NOCTTY);
  if (Fd < 0 && errno == ENOENT) {
    // No /proc here.
    Fd = OpenByHandle(Path, Status);
    if (Fd == CantByHandle)
      Fd = OpenLookedAt(FileName, Status);
  }
  close(Path);
  return Fd;
#else
  if (stat(FileName, &Status) != 0 || !S_ISREG(Status.st_mode))
    return -1;
  return OpenLookedAt(FileName, Status);
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
  if (BytesToWrite >= LargeWrite && fstat(Fd, &Status) == 0 && S_ISFIFO(Status.st_mode)) {
    WidenPipe(Fd);
    How = Splicing;
  }
  return Transfer(Fd, (char *)Buffer, BytesToWrite, BytesWritten, How);
}
