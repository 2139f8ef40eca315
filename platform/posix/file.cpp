// test.txt over a POSIX descriptor, with kernel32's contract: an open that
// Windows would refuse fails here too, and a read moves the whole count
// unless the file ends or a real error occurs.
#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/posix/handle.h"

// The name of descriptor Fd under /proc/self/fd/, written at the end of
// Name.
static const char *ProcFdName(int Fd, char (&Name)[32]) {
  static const char Directory[] = "/proc/self/fd/";
  char *At = Name + sizeof Name - 1;
  *At = 0;
  do
    *--At = (char)('0' + Fd % 10);
  while ((Fd /= 10) != 0);
  At -= sizeof Directory - 1;
  __builtin_memcpy(At, Directory, sizeof Directory - 1);
  return At;
}

// Fd when it is open on the very file Looked at; otherwise it is closed,
// and -1.
static int KeptIfLookedAt(int Fd, const struct stat &Looked) {
  struct stat Opened;
  if (Fd >= 0 && (fstat(Fd, &Opened) != 0 || Opened.st_dev != Looked.st_dev ||
                  Opened.st_ino != Looked.st_ino)) {
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
  int Fd = OpenWithoutWaiting(ProcFdName(Path, Name));
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

// The program asks for one thing only: an existing file opened for reading,
// shared with nobody (share mode 0).
HANDLE WINAPI CreateFileA(LPCSTR FileName, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD,
                          HANDLE) {
  int Fd = OpenRegularFile(FileName);
  // POSIX has no mandatory equivalent of share mode 0; an exclusive flock
  // keeps out everyone who asks for one too. Only someone else's lock turns
  // the open down: where locks can't be had at all (a file system without a
  // lock service), the file is readable all the same and is shown.
  if (Fd >= 0 && flock(Fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
    close(Fd);
    Fd = -1;
  }
  return Fd < 0 ? INVALID_HANDLE_VALUE : HandleOf(Fd);
}

// The low 32 bits of the length; the program never asks for the high part.
DWORD WINAPI GetFileSize(HANDLE File, LPDWORD) {
  struct stat Status;
  return fstat(FdOf(File), &Status) == 0 ? (DWORD)Status.st_size : INVALID_FILE_SIZE;
}

// Goes on after short reads and interruptions until the count is read, the
// file ends, or a real error occurs. The file is read blocking, so a read
// that would block is an error like any other, never a reason to try again.
BOOL WINAPI ReadFile(HANDLE File, LPVOID Buffer, DWORD BytesToRead, LPDWORD BytesRead,
                     LPOVERLAPPED) {
  char *Into = (char *)Buffer;
  DWORD Read = 0;
  ssize_t Result = 0;
  while (Read < BytesToRead) {
    Result = read(FdOf(File), Into + Read, StepOf(BytesToRead - Read));
    if (Result < 0 && errno == EINTR)
      continue;
    if (Result <= 0)
      break;
    Read += (DWORD)Result;
  }
  *BytesRead = Read;
  // The end of the file is no error.
  return Result >= 0;
}

BOOL WINAPI CloseHandle(HANDLE Object) {
  return close(FdOf(Object)) == 0;
}
